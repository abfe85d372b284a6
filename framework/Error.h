#pragma once
// A failure reported to the user: what() is the text shown in the error box, in UTF-8.
#include <stdexcept>
#include <string>

namespace zumelko {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zumelko
