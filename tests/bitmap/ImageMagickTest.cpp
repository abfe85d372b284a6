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

// A file with a 124-byte header (the newest kind, what ImageMagick writes for masks) rewritten
// with the 40-byte header: the masks stay right after it, where that header has them; without
// masks the picture says BI_RGB and they go.
Bytes WithInfoHeader(const Bytes& v5, bool masks) {
    EXPECT_EQ(Le32(v5, 14), 124u);
    Bytes b(v5.begin(), v5.begin() + 14 + 40);
    SetLe32(b, 14, 40);
    if (masks) {
        b.insert(b.end(), v5.begin() + 14 + 40, v5.begin() + 14 + 52);
    } else {
        SetLe32(b, 30, 0);
    }
    b.insert(b.end(), v5.begin() + 14 + 124, v5.end());
    SetLe32(b, 2, static_cast<std::uint32_t>(b.size()));
    SetLe32(b, 10, static_cast<std::uint32_t>(Le32(v5, 10) - 124 + 40 + (masks ? 12 : 0)));
    return b;
}

struct Kind {
    const char* name;
    std::vector<std::string> options;  // what convert is told after reading the pattern
    int colors;
    int bits;
    std::uint32_t compression;
    int masks;  // -1: the file as written; 0 or 1: a 124-byte header made 40 bytes, masks kept or not
};

// Every kind of picture ImageMagick writes with (or can be brought to) a 40-byte header, read
// as it reads it itself. Run lengths are what it writes by default for a palette of more than
// 16 colours.
TEST_F(ImageMagick, EveryKindOfItsFilesShowsItsOwnPixels) {
    const int w = 23, h = 9;
    const std::vector<Kind> kinds = {
        {"1 bit", {"-type", "Palette", "BMP3:"}, 2, 1, 0, -1},
        {"4 bits", {"-type", "Palette", "BMP3:"}, 11, 4, 0, -1},
        {"8 bits", {"-type", "Palette", "-compress", "None", "BMP3:"}, 90, 8, 0, -1},
        {"8 bits, run lengths", {"-type", "Palette", "BMP3:"}, 90, 8, 1, -1},
        {"8 bits, run lengths of few colours", {"-type", "Palette", "-compress", "RLE", "BMP3:"}, 5, 8, 1, -1},
        {"16 bits 5-5-5", {"-define", "bmp:subtype=RGB555", "BMP:"}, 300, 16, 0, 0},
        {"16 bits, masks 5-5-5", {"-define", "bmp:subtype=RGB555", "BMP:"}, 300, 16, 3, 1},
        {"16 bits, masks 5-6-5", {"-define", "bmp:subtype=RGB565", "BMP:"}, 300, 16, 3, 1},
        {"24 bits", {"-type", "TrueColor", "BMP3:"}, 300, 24, 0, -1},
        {"32 bits", {"-alpha", "on", "BMP:"}, 300, 32, 0, 0},
        {"32 bits, masks", {"-alpha", "on", "BMP:"}, 300, 32, 3, 1},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.name);
        const Pixels pattern = Pattern(w, h, Spectrum(k.colors));
        WriteFile(dir_ / "in.rgb", ToRgb(pattern));
        std::vector<std::string> args = {"-size", std::to_string(w) + "x" + std::to_string(h), "-depth", "8",
                                         "rgb:" + (dir_ / "in.rgb")};
        args.insert(args.end(), k.options.begin(), k.options.end() - 1);
        args.push_back(k.options.back() + (dir_ / "theirs.bmp"));
        Convert(args);
        Bytes file = ReadFile(dir_ / "theirs.bmp");
        ASSERT_GT(file.size(), 54u);
        if (k.masks >= 0) file = WithInfoHeader(file, k.masks == 1);
        ASSERT_EQ(Le32(file, 14), 40u);
        ASSERT_EQ(Le16(file, 28), k.bits);  // the kind meant is the kind tested
        ASSERT_EQ(Le32(file, 30), k.compression);
        WriteFile(dir_ / "file.bmp", file);
        const Pixels theirs = ImageMagickPixels(dir_ / "file.bmp");
        ASSERT_EQ(theirs.size(), pattern.size());
        if (k.bits >= 24 || (k.bits <= 8 && k.colors <= (1 << k.bits))) {
            EXPECT_EQ(theirs, pattern);  // nothing lost on their side either
        }
        for (int display : {32, 24}) {
            gdi().SetDisplayBitsPerPixel(display);
            EXPECT_EQ(Shown(file), theirs) << display << "-bit display";
        }
        // Passed on, the picture keeps its form and its pixels.
        BitmapImage picture;
        Read(picture, file);
        const Bytes again = Write(picture);
        EXPECT_EQ(Le32(again, 30), k.compression);
        WriteFile(dir_ / "again.bmp", again);
        EXPECT_EQ(ImageMagickPixels(dir_ / "again.bmp"), theirs);
    }
}

// Run lengths as a writer may lay them out: moves, lines ended early, runs given index by index
// with their padding, four-bit runs of two alternating indices, bytes after the end mark. What
// ImageMagick shows for the same file is what the picture shows; broken ones are refused.
TEST_F(ImageMagick, RunLengthsAreReadAsItReadsThemAndBrokenOnesRefused) {
    struct Case {
        const char* name;
        int bits;
        int width, height;
        Bytes data;
        bool taken;
    };
    const std::vector<Case> cases = {
        {"8: runs, a move, line ended early, odd literal", 8, 6, 4,
         {3, 1, 0, 2, 2, 0, 1, 2, 0, 0, 0, 3, 4, 5, 6, 0, 2, 7, 0, 0, 6, 3, 0, 1}, true},
        {"8: literal of even length, end after the last line", 8, 4, 2,
         {0, 4, 1, 2, 3, 4, 0, 0, 4, 9, 0, 0, 0, 1}, true},
        {"4: alternating runs, literals of 3 and 5 padded", 4, 9, 3,
         {9, 0x12, 0, 0, 0, 3, 0x34, 0x50, 2, 0xAB, 0, 0, 0, 5, 0xCD, 0xEF, 0x10, 0, 0, 1}, true},
        {"4: a move to the last line", 4, 5, 3, {0, 2, 1, 2, 5, 0x77, 0, 1}, true},
        {"8: run past the right edge is cut there", 8, 3, 2, {5, 2, 0, 0, 2, 3, 0, 1}, true},
        {"8: data ends before the end mark", 8, 4, 2, {4, 1, 0, 0, 4, 2}, false},
        {"8: literal cut short", 8, 4, 2, {0, 4, 1, 2}, false},
        {"8: padding of a literal missing", 8, 4, 2, {0, 3, 1, 2, 3}, false},
        {"8: run below the last line", 8, 4, 2, {0, 0, 0, 0, 1, 1, 0, 1}, false},
        {"4: move below the last line, then a run", 4, 4, 2, {0, 2, 0, 3, 1, 0x11, 0, 1}, false},
        {"8: a move cut short", 8, 4, 2, {0, 2, 1}, false},
        {"8: no data", 8, 4, 2, {}, false},
    };
    const std::vector<std::uint32_t> colors = Spectrum(16);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t tableSize = 4 * colors.size();
        Bytes file(54 + tableSize, 0);
        file[0] = 'B';
        file[1] = 'M';
        SetLe32(file, 10, static_cast<std::uint32_t>(file.size()));
        SetLe32(file, 14, 40);
        SetLe32(file, 18, static_cast<std::uint32_t>(c.width));
        SetLe32(file, 22, static_cast<std::uint32_t>(c.height));
        SetLe16(file, 26, 1);
        SetLe16(file, 28, static_cast<std::uint16_t>(c.bits));
        SetLe32(file, 30, c.bits == 8 ? 1 : 2);
        SetLe32(file, 34, static_cast<std::uint32_t>(c.data.size()));
        SetLe32(file, 46, static_cast<std::uint32_t>(colors.size()));
        for (std::size_t i = 0; i < colors.size(); ++i) SetLe32(file, 54 + 4 * i, colors[i]);
        file.insert(file.end(), c.data.begin(), c.data.end());
        if (!c.taken) {
            BitmapImage picture;
            EXPECT_EQ(ErrorText([&] { Read(picture, file); }), "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です");
            continue;
        }
        // Bytes after the end mark are no part of the picture (ImageMagick wants them there).
        file.insert(file.end(), 64, 0xEE);
        SetLe32(file, 2, static_cast<std::uint32_t>(file.size()));
        WriteFile(dir_ / "rle.bmp", file);
        const Pixels theirs = ImageMagickPixels(dir_ / "rle.bmp");
        ASSERT_EQ(theirs.size(), static_cast<std::size_t>(c.width * c.height));
        if (std::string(c.name).find("right edge") == std::string::npos) {
            EXPECT_EQ(Shown(file), theirs);
        } else {
            // ImageMagick carries such a run on into the next line; the picture ends it at the
            // edge, where the pixels leave the picture.
            const Pixels shown = Shown(file);
            const Pixels expected = {colors[3], colors[3], colors[0], colors[2], colors[2], colors[2]};
            EXPECT_EQ(shown, expected);
        }
        // Only the run lengths up to the end mark are kept and passed on.
        BitmapImage picture;
        Read(picture, file);
        const Bytes again = Write(picture);
        EXPECT_EQ(again.size(), 54 + tableSize + c.data.size());
        EXPECT_EQ(Le32(again, 34), c.data.size());
    }
    // biSizeImage tells where the data ends: an end mark past it does not count.
    Bytes cut = MakeBmp(8, 2, {{1, 1}}, colors);
    cut.resize(54 + 4 * colors.size());
    for (std::uint8_t v : {2, 1, 0, 1}) cut.push_back(v);
    SetLe32(cut, 30, 1);
    SetLe32(cut, 34, 3);
    BitmapImage picture;
    EXPECT_EQ(ErrorText([&] { Read(picture, cut); }), "ﾋﾞｯﾄﾏｯﾌﾟｲﾒｰｼﾞが不正です");
    SetLe32(cut, 34, 4);
    EXPECT_EQ(ErrorText([&] { Read(picture, cut); }), "");
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
