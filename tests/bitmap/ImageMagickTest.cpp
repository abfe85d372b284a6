// BMP files of another writer and reader (ImageMagick's convert): what it writes is read the
// way it reads it, and what this program writes it reads with the same pixels.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "desktop/ClipboardAccess.h"
#include "Support.h"

namespace zumelko::test {
namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "zumelko-bmp-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs convert with these arguments (no shell in between) and returns what it wrote to its
// standard output. A missing convert fails the test: it is one of the packages the tests need.
Bytes Convert(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"convert"};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);

    int out[2];
    if (::pipe(out) != 0) {
        ADD_FAILURE() << "pipe: " << std::strerror(errno);
        return {};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        ::close(out[1]);
        ::execvp(cargv[0], cargv.data());
        const char message[] = "convert could not be started (install imagemagick)\n";
        (void)!::write(STDERR_FILENO, message, sizeof message - 1);
        ::_exit(127);
    }
    ::close(out[1]);
    Bytes output;
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(out[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        output.insert(output.end(), buffer, buffer + n);
    }
    ::close(out[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "convert failed: exit " << (WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return output;
}

Bytes ToRgb(const Pixels& pixels) {
    Bytes rgb;
    for (std::uint32_t p : pixels) {
        rgb.push_back(static_cast<std::uint8_t>(p >> 16));
        rgb.push_back(static_cast<std::uint8_t>(p >> 8));
        rgb.push_back(static_cast<std::uint8_t>(p));
    }
    return rgb;
}

// How ImageMagick sees a BMP file, as 0xRRGGBB pixels top row first.
Pixels ImageMagickPixels(const std::string& file) {
    const Bytes rgb = Convert({file, "-depth", "8", "rgb:-"});
    Pixels p;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3)
        p.push_back((std::uint32_t{rgb[i]} << 16) | (std::uint32_t{rgb[i + 1]} << 8) | rgb[i + 2]);
    return p;
}

// The same file with its rows stored top row first (negative height).
Bytes TopDown(const Bytes& bmp) {
    Bytes b = bmp;
    const auto width = static_cast<std::size_t>(Le32(b, 18));
    const auto height = static_cast<std::int32_t>(Le32(b, 22));
    const std::size_t stride = (width * Le16(b, 28) + 31) / 32 * 4;
    const std::size_t rows = Le32(b, 10);
    for (std::int32_t y = 0; y < height; ++y)
        std::copy_n(bmp.begin() + static_cast<long>(rows + static_cast<std::size_t>(y) * stride), stride,
                    b.begin() + static_cast<long>(rows + static_cast<std::size_t>(height - 1 - y) * stride));
    SetLe32(b, 22, static_cast<std::uint32_t>(-height));
    return b;
}

// The same file with bytes between the colour table and the rows, bfOffBits pointing past them.
Bytes WithGap(const Bytes& bmp, std::size_t gap) {
    Bytes b = bmp;
    const std::size_t rows = Le32(b, 10);
    b.insert(b.begin() + static_cast<long>(rows), gap, 0xA5);
    SetLe32(b, 10, static_cast<std::uint32_t>(rows + gap));
    SetLe32(b, 2, static_cast<std::uint32_t>(b.size()));
    return b;
}

class ImageMagick : public DesktopTest {
protected:
    TempDir dir_;
};

struct Written {
    const char* format;                // BMP3: 40-byte header, BMP2: 12-byte core header
    std::vector<std::string> options;
    int colors;
    int bits;
};

TEST_F(ImageMagick, ItsFilesAreReadAsItReadsThemBottomUpTopDownAndWithAGap) {
    const int w = 11, h = 7;
    const std::vector<Written> cases = {
        {"BMP3", {"-type", "Palette"}, 2, 1},
        {"BMP3", {"-type", "Palette"}, 5, 4},
        {"BMP3", {"-type", "Palette", "-compress", "None"}, 40, 8},
        {"BMP3", {"-type", "TrueColor"}, 77, 24},
        {"BMP2", {"-type", "Palette"}, 2, 1},
        {"BMP2", {"-type", "Palette"}, 9, 4},
        {"BMP2", {"-type", "Palette"}, 200, 8},
    };
    for (const Written& c : cases) {
        SCOPED_TRACE(std::string(c.format) + " " + std::to_string(c.bits) + " bits");
        const Pixels pattern = Pattern(w, h, Spectrum(c.colors));
        WriteFile(dir_ / "in.rgb", ToRgb(pattern));
        std::vector<std::string> args = {"-size", std::to_string(w) + "x" + std::to_string(h), "-depth", "8",
                                         "rgb:" + (dir_ / "in.rgb")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        args.push_back(std::string(c.format) + ":" + (dir_ / "theirs.bmp"));
        Convert(args);
        const Bytes theirs = ReadFile(dir_ / "theirs.bmp");
        ASSERT_GT(theirs.size(), 26u);
        const bool core = std::string(c.format) == "BMP2";
        ASSERT_EQ(Le32(theirs, 14), core ? 12u : 40u);
        ASSERT_EQ(Le16(theirs, core ? 24 : 28), c.bits);  // the depth meant is the depth tested

        std::vector<Bytes> variants = {theirs, WithGap(theirs, 10)};
        if (!core) variants.push_back(TopDown(theirs));
        for (std::size_t i = 0; i < variants.size(); ++i) {
            SCOPED_TRACE("variant " + std::to_string(i));
            WriteFile(dir_ / "variant.bmp", variants[i]);
            EXPECT_EQ(ImageMagickPixels(dir_ / "variant.bmp"), pattern);
            EXPECT_EQ(Shown(variants[i]), pattern);
        }
    }
}

// Run-length compression is not taken: such a file is refused, not misread.
TEST_F(ImageMagick, ItsCompressedFilesAreRefused) {
    WriteFile(dir_ / "in.rgb", ToRgb(Pattern(9, 4, Spectrum(30))));
    Convert({"-size", "9x4", "-depth", "8", "rgb:" + (dir_ / "in.rgb"), "-type", "Palette", "-compress", "RLE",
             "BMP3:" + (dir_ / "rle.bmp")});
    const Bytes rle = ReadFile(dir_ / "rle.bmp");
    ASSERT_EQ(Le32(rle, 30), 1u);
    BitmapImage picture;
    EXPECT_EQ(ErrorText([&] { Read(picture, rle); }), "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です");
}

struct Display {
    int bits;
    bool monochrome;
    std::vector<std::uint32_t> colors;
    bool palette;
};

// Every file this program writes, from a picture taken from the clipboard of any display or
// read from another writer's top-down file, ImageMagick reads with the pixels the picture shows.
TEST_F(ImageMagick, OurFilesAreReadByItWithTheSamePixels) {
    const int w = 21, h = 6;
    const std::vector<Display> displays = {
        {32, true, {0x000000, 0xFFFFFF}, false},
        {4, false, {0x000000, 0x800000, 0x00FF00, 0xC0C0C0, 0x0000FF, 0xFFFFFF}, false},
        {8, false, Spectrum(256), true},
        {16, false, Spectrum(100), false},
        {32, false, Spectrum(100), false},
    };
    ClipboardAccess clip;
    for (const Display& d : displays) {
        SCOPED_TRACE(std::to_string(d.bits) + (d.monochrome ? " monochrome" : ""));
        gdi().SetDisplayBitsPerPixel(d.bits);
        OtherProgramPuts(w, h, Pattern(w, h, d.colors), d.monochrome, d.palette ? d.colors : std::vector<std::uint32_t>{});
        BitmapImage picture;
        clip.GetBitmap(picture);
        WriteFile(dir_ / "ours.bmp", Write(picture));
        EXPECT_EQ(ImageMagickPixels(dir_ / "ours.bmp"), ClipboardPixels());
    }

    gdi().SetDisplayBitsPerPixel(32);
    const Pixels pattern = Pattern(w, h, Spectrum(12));
    WriteFile(dir_ / "in.rgb", ToRgb(pattern));
    Convert({"-size", std::to_string(w) + "x" + std::to_string(h), "-depth", "8", "rgb:" + (dir_ / "in.rgb"), "-type",
             "Palette", "BMP3:" + (dir_ / "theirs.bmp")});
    BitmapImage picture;
    Read(picture, TopDown(ReadFile(dir_ / "theirs.bmp")));
    const Bytes ours = Write(picture);
    EXPECT_EQ(static_cast<std::int32_t>(Le32(ours, 22)), h);
    WriteFile(dir_ / "ours.bmp", ours);
    EXPECT_EQ(ImageMagickPixels(dir_ / "ours.bmp"), pattern);
}

}  // namespace
}  // namespace zumelko::test
