#ifdef _WIN32

#include "platform/WindowsRegistry.h"

#include "platform/Error.h"

#include <windows.h>

#include <optional>

namespace querlin::platform {

namespace {

// The UTF-16 form of a UTF-8 text; nothing when the bytes are not UTF-8,
// which would otherwise come back altered (each bad byte a U+FFFD).
std::optional<std::wstring> WideExactly(const std::string& utf8)
{
    if (utf8.empty())
        return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::wstring out(size, L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), int(utf8.size()), out.data(), size);
    return out;
}

// For names looked up: a name that is not UTF-8 finds nothing.
std::wstring Wide(const std::string& utf8)
{
    std::optional<std::wstring> wide = WideExactly(utf8);
    return wide ? *wide : std::wstring(L"\uFFFF");
}

std::string Narrow(const wchar_t* text, size_t length)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string out(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), size, nullptr, nullptr);
    return out;
}

class WindowsRegistryKey : public RegistryKey {
public:
    explicit WindowsRegistryKey(HKEY key) : key_(key) {}
    ~WindowsRegistryKey() override { Close(); }

    bool ValueExists(const std::string& name) override
    {
        return RegQueryValueExW(Handle(), Wide(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    }

    std::optional<RegValue> ReadValue(const std::string& name) override
    {
        std::wstring wideName = Wide(name);
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(Handle(), wideName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            return std::nullopt;
        std::string bytes(size, '\0');
        LONG rc;
        // The value may grow between the two calls.
        while ((rc = RegQueryValueExW(Handle(), wideName.c_str(), nullptr, &type,
                                      reinterpret_cast<BYTE*>(bytes.data()), &size)) == ERROR_MORE_DATA)
            bytes.resize(size);
        if (rc != ERROR_SUCCESS)
            return std::nullopt;
        bytes.resize(size);
        RegValue value{static_cast<RegType>(type), bytes};
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            std::string text = Narrow(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / 2);
            if (!text.empty() && text.back() == '\0')
                text.pop_back();
            value.data = text;
        }
        return value;
    }

    void WriteString(const std::string& name, const std::string& text, RegType type) override
    {
        HKEY key = Handle();
        // Text that is not UTF-8 is refused rather than stored altered.
        const std::optional<std::wstring> wide = WideExactly(text);
        const std::optional<std::wstring> wideName = WideExactly(name);
        if (!wide || !wideName || (type != RegType::Sz && type != RegType::ExpandSz))
            throw Error("Failed to set data for '" + name + "'");
        // Written with the terminating NUL.
        DWORD bytes = DWORD((wide->size() + 1) * sizeof(wchar_t));
        if (RegSetValueExW(key, wideName->c_str(), 0, DWORD(type), reinterpret_cast<const BYTE*>(wide->c_str()),
                           bytes) != ERROR_SUCCESS)
            throw Error("Failed to set data for '" + name + "'");
    }

    void Close() override
    {
        if (key_) {
            RegCloseKey(key_);
            key_ = nullptr;
        }
    }

private:
    HKEY Handle()
    {
        if (!key_)
            throw Error("The registry key is closed");
        return key_;
    }

    HKEY key_;
};

} // namespace

std::unique_ptr<RegistryKey> WindowsRegistry::OpenOrCreateKey(const std::string& path)
{
    // The leading backslash only says the path starts at the root key.
    std::string relative = path;
    while (!relative.empty() && relative.front() == '\\')
        relative.erase(0, 1);
    if (!base_.empty())
        relative = base_ + "\\" + relative;
    const std::optional<std::wstring> widePath = WideExactly(relative);
    if (!widePath)
        return nullptr;
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, widePath->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return std::make_unique<WindowsRegistryKey>(key);
}

} // namespace querlin::platform

#endif
