// What Windows and Explorer read from the program's file, and how Windows runs it: the
// manifest's common controls and DPI awareness, the version, the icon in every size.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cwctype>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
// clang-format off
#include <shlwapi.h>
// clang-format on

namespace zumelko::wintest {
namespace {

std::string FileBytes(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Module {
    HMODULE h = ::LoadLibraryExW(FromUtf8(ZUMELKO_PROGRAM_EXE).c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ~Module() {
        if (h != nullptr) ::FreeLibrary(h);
    }
    static std::wstring FromUtf8(const char* s) {
        const int n = ::MultiByteToWideChar(CP_UTF8, 0, s, -1, nullptr, 0);
        std::wstring w(static_cast<std::size_t>(n), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, s, -1, w.data(), n);
        w.resize(static_cast<std::size_t>(n > 0 ? n - 1 : 0));
        return w;
    }
    std::string Resource(LPCWSTR type, LPCWSTR name) const {
        HRSRC found = ::FindResourceW(h, name, type);
        if (found == nullptr) return {};
        const void* data = ::LockResource(::LoadResource(h, found));
        return {static_cast<const char*>(data), ::SizeofResource(h, found)};
    }
};

TEST(ProgramResources, CarriesItsManifestVersionAndIconInEverySize) {
    const Module program;
    ASSERT_NE(program.h, nullptr) << ZUMELKO_PROGRAM_EXE;
    // RT_MANIFEST 1: what the process is created with.
    const std::string manifest = program.Resource(MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1));
    EXPECT_EQ(manifest, FileBytes(ZUMELKO_MANIFEST));
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_EQ(manifest.find("activeCodePage"), std::string::npos) << "the ANSI code page is the wire's";

    // The version resource, as Explorer shows it.
    const std::wstring path = Module::FromUtf8(ZUMELKO_PROGRAM_EXE);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<std::uint8_t> info(size);
    ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
    auto text = [&](const wchar_t* name) {
        const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
        wchar_t* value = nullptr;
        UINT length = 0;
        if (!::VerQueryValueW(info.data(), key.c_str(), reinterpret_cast<void**>(&value), &length)) return std::wstring();
        return std::wstring(value, length > 0 ? length - 1 : 0);
    };
    EXPECT_EQ(text(L"ProductName"), L"Zumelko");
    EXPECT_EQ(text(L"FileVersion"), Module::FromUtf8(ZUMELKO_VERSION));
    EXPECT_EQ(text(L"ProductVersion"), Module::FromUtf8(ZUMELKO_VERSION));
    EXPECT_FALSE(text(L"FileDescription").empty());
    EXPECT_FALSE(text(L"CompanyName").empty());
    EXPECT_FALSE(text(L"LegalCopyright").empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(ZUMELKO_VERSION, "%u.%u.%u", &major, &minor, &patch), 3);
    EXPECT_EQ(fixed->dwFileVersionMS, (major << 16) | minor);
    EXPECT_EQ(fixed->dwFileVersionLS, patch << 16);

    // The icon group: every size the shell asks for at 100 to 200 %, the largest as PNG.
    const std::string group = program.Resource(MAKEINTRESOURCEW(14), L"MAINICON");
    ASSERT_GE(group.size(), 6u);
    const auto* g = reinterpret_cast<const std::uint8_t*>(group.data());
    const std::size_t count = g[4] | (g[5] << 8);
    ASSERT_EQ(group.size(), 6 + 14 * count);
    std::set<int> sizes;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* e = g + 6 + 14 * i;
        const int width = e[0] == 0 ? 256 : e[0];
        EXPECT_EQ(e[0], e[1]) << "square";
        EXPECT_EQ(e[6] | (e[7] << 8), 32) << "32 bits a pixel at " << width;
        sizes.insert(width);
        const std::string image = program.Resource(MAKEINTRESOURCEW(3), MAKEINTRESOURCEW(e[12] | (e[13] << 8)));
        ASSERT_GT(image.size(), 8u);
        const bool png = image.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0;
        EXPECT_EQ(png, width == 256) << width;
        // Windows makes each size from its own image: loaded at that size, it is that size.
        HICON icon = static_cast<HICON>(::LoadImageW(program.h, L"MAINICON", IMAGE_ICON, width, width, 0));
        if (icon != nullptr) {
            ICONINFO ii{};
            ASSERT_TRUE(::GetIconInfo(icon, &ii));
            BITMAP bm{};
            ::GetObjectW(ii.hbmColor != nullptr ? ii.hbmColor : ii.hbmMask, sizeof bm, &bm);
            EXPECT_EQ(bm.bmWidth, width);
            if (ii.hbmColor != nullptr) ::DeleteObject(ii.hbmColor);
            if (ii.hbmMask != nullptr) ::DeleteObject(ii.hbmMask);
            ::DestroyIcon(icon);
        }
    }
    EXPECT_EQ(sizes, (std::set<int>{16, 20, 24, 32, 40, 48, 64, 256}));
}

// The tests carry the program's manifest: what it asks for is what the process got.
TEST(ProgramResources, RunsWithCommonControlsSixAndPerMonitorAwareness) {
    // By name, as any import of it is resolved: through the manifest's assembly. Windows says
    // 6 from DllGetVersion; Wine's copy of version 6 still answers 5.81 there, but it is the
    // copy of the Common-Controls 6.0 assembly that is loaded.
    HMODULE comctl = ::LoadLibraryW(L"comctl32.dll");
    ASSERT_NE(comctl, nullptr);
    using GetVersionFn = HRESULT(CALLBACK*)(DLLVERSIONINFO*);
    auto getVersion = reinterpret_cast<GetVersionFn>(reinterpret_cast<void*>(::GetProcAddress(comctl, "DllGetVersion")));
    ASSERT_NE(getVersion, nullptr);
    DLLVERSIONINFO version{};
    version.cbSize = sizeof version;
    ASSERT_EQ(getVersion(&version), S_OK);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(comctl, path, MAX_PATH);
    std::wstring loaded(path);
    for (auto& c : loaded) c = static_cast<wchar_t>(::towlower(c));
    const bool fromAssembly = loaded.find(L"microsoft.windows.common-controls_6595b64144ccf1df_6.") != std::wstring::npos;
    EXPECT_TRUE(version.dwMajorVersion == 6 || fromAssembly)
        << version.dwMajorVersion << "." << version.dwMinorVersion << " from " << std::string(loaded.begin(), loaded.end());
    ::FreeLibrary(comctl);

    // Per monitor (version 2 where the system has it; the manifest asks for it first).
    EXPECT_TRUE(::IsProcessDPIAware());
    HMODULE user32 = ::GetModuleHandleW(L"user32.dll");
    using ContextFn = HANDLE(WINAPI*)();
    using AwarenessFn = int(WINAPI*)(HANDLE);
    auto context = reinterpret_cast<ContextFn>(reinterpret_cast<void*>(::GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    auto awareness =
        reinterpret_cast<AwarenessFn>(reinterpret_cast<void*>(::GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    if (context != nullptr && awareness != nullptr) {
        EXPECT_EQ(awareness(context()), 2);  // DPI_AWARENESS_PER_MONITOR_AWARE
    }
}

}  // namespace
}  // namespace zumelko::wintest
