#include "platform/CodePage.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <iconv.h>
#endif

namespace querlin::platform {

std::optional<std::string> CodePageToUtf8(std::string_view bytes, unsigned codePage, std::size_t* badAt)
{
    std::size_t ascii = 0;
    while (ascii < bytes.size() && static_cast<unsigned char>(bytes[ascii]) < 0x80)
        ++ascii;
    // Every code page we read agrees with ASCII below 0x80.
    if (ascii == bytes.size())
        return std::string(bytes);
    if (badAt)
        *badAt = ascii;
#ifdef _WIN32
    const int wideSize = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()),
                                             nullptr, 0);
    if (wideSize <= 0) {
        // The call does not say where it stopped: find the first character
        // (one byte, or two after a lead byte) that does not convert.
        if (badAt) {
            std::size_t at = ascii;
            while (at < bytes.size()) {
                const std::size_t length =
                    IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[at])) ? 2 : 1;
                wchar_t one[2];
                if (at + length > bytes.size() ||
                    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data() + at, int(length), one, 2) <= 0)
                    break;
                at += length;
            }
            *badAt = at;
        }
        return std::nullopt;
    }
    std::wstring wide(std::size_t(wideSize), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), int(bytes.size()), wide.data(), wideSize);
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, out.data(), size, nullptr, nullptr);
    return out;
#else
    const std::string name = "CP" + std::to_string(codePage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(bytes.substr(0, ascii));
    std::string input(bytes.substr(ascii));
    char* in = input.data();
    std::size_t inLeft = input.size();
    char buffer[4096];
    bool ok = true;
    while (inLeft > 0) {
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
        out.append(buffer, std::size_t(outPtr - buffer));
        if (rc == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // EILSEQ: no such character; EINVAL: the text ends inside one.
            ok = false;
            break;
        }
    }
    iconv_close(cd);
    if (!ok) {
        if (badAt)
            *badAt = ascii + std::size_t(in - input.data());
        return std::nullopt;
    }
    return out;
#endif
}

} // namespace querlin::platform
