#pragma once
// A picture that can write itself to and read itself from a byte stream (a BMP file image).
#include "framework/Stream.h"

namespace zumelko {

class Graphic {
public:
    virtual ~Graphic() = default;
    virtual void WriteToStream(Stream& stream) const = 0;
    virtual void ReadFromStream(Stream& stream) = 0;
    virtual bool Empty() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
};

}  // namespace zumelko
