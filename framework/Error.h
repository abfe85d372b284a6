#pragma once
// The exception the program's own code raises; its text is what the user is shown.
#include <stdexcept>

namespace zumelko {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zumelko
