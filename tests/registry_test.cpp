// The registry routines against the real registry (Wine's, in the test prefix). Every test works
// below scratch keys of its own, one under HKEY_CLASSES_ROOT\CLSID and one under
// HKEY_LOCAL_MACHINE\SOFTWARE, made in SetUp and removed in TearDown. Beside them sits a sentinel
// key that no call may touch.

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/Unique.h"
#include "registry/Registry.h"
#include "registry/RegistryValue.h"

namespace {

using Registry::DeleteRegistryKey;
using Registry::ReadRegistryValue;
using Registry::ReadValueFromOpenKey;

constexpr wchar_t kClassScratch[] = L"CLSID\\{6D2F0A9E-4C1B-4E77-9B3A-5F8E2C7D1A40}";
constexpr wchar_t kMachineScratch[] = L"SOFTWARE\\QelpadRegistryTests";
constexpr wchar_t kSentinel[] = L"Sentinel";

struct Scratch {
    HKEY root;
    const wchar_t* path;
};
const Scratch kScratches[] = {{HKEY_CLASSES_ROOT, kClassScratch}, {HKEY_LOCAL_MACHINE, kMachineScratch}};

std::string Describe(const RegistryValue& value) {
    if (value.IsText()) {
        return "text " + ::testing::PrintToString(value.AsText()) + " (" + std::to_string(value.AsText().size()) +
               " characters)";
    }
    if (value.IsInteger()) return "integer " + std::to_string(value.AsInteger());
    return "empty";
}

LONG SetValue(HKEY key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
    return ::RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
}

bool KeyExists(HKEY root, const std::wstring& path) {
    UniqueHKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

UniqueHKey CreateKey(HKEY root, const std::wstring& path) {
    UniqueHKey key;
    const LONG rc = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    EXPECT_EQ(ERROR_SUCCESS, rc) << "creating " << ::testing::PrintToString(path);
    return key;
}

class RegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (std::size_t i = 0; i < std::size(kScratches); ++i) {
            ::RegDeleteTreeW(kScratches[i].root, kScratches[i].path);  // left over by an aborted run
            m_keys[i] = CreateKey(kScratches[i].root, kScratches[i].path);
            ASSERT_TRUE(m_keys[i]);
            const UniqueHKey sentinel = CreateKey(m_keys[i].Get(), kSentinel);
            ASSERT_EQ(ERROR_SUCCESS, SetValue(sentinel.Get(), L"", REG_SZ, L"keep", sizeof(L"keep")));
        }
    }

    void TearDown() override {
        for (std::size_t i = 0; i < std::size(kScratches); ++i) {
            m_keys[i].Reset();
            ::RegDeleteTreeW(kScratches[i].root, kScratches[i].path);
        }
    }

    HKEY ClassKey() const { return m_keys[0].Get(); }
    static std::wstring ClassPath(const std::wstring& sub) { return std::wstring(kClassScratch) + L"\\" + sub; }
    static std::wstring PathBelow(const Scratch& scratch, const std::wstring& sub) {
        return std::wstring(scratch.path) + L"\\" + sub;
    }
    static void ExpectSentinelsSurvive() {
        for (const Scratch& scratch : kScratches) {
            const std::wstring sentinel = PathBelow(scratch, kSentinel);
            EXPECT_TRUE(KeyExists(scratch.root, sentinel)) << ::testing::PrintToString(sentinel);
        }
    }

private:
    UniqueHKey m_keys[std::size(kScratches)];
};

using RegistryRead = RegistryTest;
using RegistryDelete = RegistryTest;
using RegistryArguments = RegistryTest;

// Callers rely on a read never letting anything escape, whatever the registry answers.
static_assert(noexcept(ReadValueFromOpenKey(HKEY{}, std::wstring(), std::declval<RegistryValue&>())));

TEST_F(RegistryRead, MissingKeyAndMissingValueAreEmpty) {
    LONG opened = static_cast<LONG>(0xdeadbeef);
    EXPECT_EQ("empty", Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, ClassPath(L"NoSuchKey"), L"", 0, &opened)));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, opened);

    opened = static_cast<LONG>(0xdeadbeef);
    EXPECT_EQ("empty", Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, L"NoSuchValue", 0, &opened)));
    EXPECT_EQ(ERROR_SUCCESS, opened);
}

TEST_F(RegistryRead, DefaultValueReadsThroughEmptyName) {
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"", REG_SZ, L"default", sizeof(L"default")));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Named", REG_SZ, L"named", sizeof(L"named")));

    EXPECT_EQ(Describe(RegistryValue::Text(std::wstring(L"default", 8))),
              Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, L"")));
    EXPECT_EQ(Describe(RegistryValue::Text(std::wstring(L"named", 6))),
              Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, L"Named")));
}

// The text holds as many characters as the registry delivered bytes, so a value stored with its
// terminator keeps it. Note: RegSetValueExW counts a NUL that directly follows the data into a
// REG_SZ (NT does the same), so the unterminated value is written from a buffer that goes on.
TEST_F(RegistryRead, StringKeepsTheNulItWasStoredWith) {
    const UniqueHKey bitmap = CreateKey(ClassKey(), L"ToolboxBitmap32");
    ASSERT_EQ(ERROR_SUCCESS, SetValue(bitmap.Get(), L"", REG_SZ, L"abc", 4 * sizeof(wchar_t)));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(bitmap.Get(), L"Bare", REG_SZ, L"abcX", 3 * sizeof(wchar_t)));

    EXPECT_EQ(Describe(RegistryValue::Text(std::wstring(L"abc\0", 4))),
              Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, ClassPath(L"ToolboxBitmap32"), L"")));
    EXPECT_EQ(Describe(RegistryValue::Text(L"abc")),
              Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, ClassPath(L"ToolboxBitmap32"), L"Bare")));
}

TEST_F(RegistryRead, ZeroByteStringIsNotEmpty) {
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Nothing", REG_SZ, L"", 0));

    RegistryValue output;
    EXPECT_EQ(ERROR_SUCCESS, ReadValueFromOpenKey(ClassKey(), L"Nothing", output));
    EXPECT_TRUE(output.IsText()) << Describe(output);
    EXPECT_EQ(Describe(RegistryValue::Text(L"")),
              Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, L"Nothing")));
}

// 0 when a value was read, the registry's code when the data query failed, -1 for every other type
// and when the size query failed (a missing value: Wine answers ERROR_FILE_NOT_FOUND there).
TEST_F(RegistryRead, StatusSaysWhatWasRead) {
    const DWORD number = 7;
    const BYTE eightBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const wchar_t multi[] = L"a\0b\0";
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Sz", REG_SZ, L"sz", sizeof(L"sz")));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Dword", REG_DWORD, &number, sizeof(number)));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"LongDword", REG_DWORD, eightBytes, sizeof(eightBytes)));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Expand", REG_EXPAND_SZ, L"%TEMP%", sizeof(L"%TEMP%")));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Multi", REG_MULTI_SZ, multi, sizeof(multi)));
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Binary", REG_BINARY, eightBytes, sizeof(eightBytes)));

    const struct {
        const wchar_t* name;
        LONG status;
        const char* output;
    } cases[] = {
        {L"Sz", ERROR_SUCCESS, "text L\"sz\\0\" (3 characters)"},
        {L"Dword", ERROR_SUCCESS, "integer 7"},
        {L"LongDword", ERROR_MORE_DATA, "empty"},
        {L"Expand", Registry::kUnreadType, "empty"},
        {L"Multi", Registry::kUnreadType, "empty"},
        {L"Binary", Registry::kUnreadType, "empty"},
        {L"Missing", Registry::kUnreadType, "empty"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(c.name)));
        RegistryValue output;
        EXPECT_EQ(c.status, ReadValueFromOpenKey(ClassKey(), c.name, output));
        EXPECT_EQ(c.output, Describe(output));
        EXPECT_EQ(c.output, Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, c.name)));
    }
}

// A handle that cannot be queried fails the size query: -1, never the registry's code; output empty.
TEST_F(RegistryRead, UnusableHandleReadsNothing) {
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Sz", REG_SZ, L"sz", sizeof(L"sz")));
    UniqueHKey writeOnly;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CLASSES_ROOT, kClassScratch, 0, KEY_SET_VALUE, writeOnly.Put()));
    // Wine checks the handle's rights: a query without KEY_QUERY_VALUE is refused with error 5.
    DWORD size = 0;
    ASSERT_EQ(ERROR_ACCESS_DENIED, ::RegQueryValueExW(writeOnly.Get(), L"Sz", nullptr, nullptr, nullptr, &size));

    const std::pair<HKEY, const char*> handles[] = {{HKEY{}, "handle 0"}, {writeOnly.Get(), "write-only handle"}};
    for (const auto& [handle, what] : handles) {
        SCOPED_TRACE(what);
        RegistryValue output;
        EXPECT_EQ(Registry::kUnreadType, ReadValueFromOpenKey(handle, L"Sz", output));
        EXPECT_EQ("empty", Describe(output));
    }
}

TEST_F(RegistryRead, DwordIsSigned) {
    const std::pair<DWORD, std::int32_t> cases[] = {
        {0xFFFFFFFFu, -1}, {0x80000000u, INT32_MIN}, {0x7FFFFFFFu, INT32_MAX}, {0u, 0}, {0x12345678u, 0x12345678}};
    for (const auto& [stored, expected] : cases) {
        SCOPED_TRACE(stored);
        ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Number", REG_DWORD, &stored, sizeof(stored)));
        EXPECT_EQ(Describe(RegistryValue::Integer(expected)),
                  Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, L"Number")));
    }
}

// Eight data bytes never reach the four-byte integer: the data query asks for four, the registry
// answers ERROR_MORE_DATA and the output stays empty. The values around the output are unharmed.
TEST_F(RegistryRead, EightByteDwordStaysWithinTheInteger) {
    const BYTE eightBytes[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
    ASSERT_EQ(ERROR_SUCCESS, SetValue(ClassKey(), L"Long", REG_DWORD, eightBytes, sizeof(eightBytes)));

    RegistryValue slots[3] = {RegistryValue::Integer(static_cast<std::int32_t>(0xdeadbeef)), RegistryValue(),
                              RegistryValue::Text(L"canary")};
    EXPECT_EQ(ERROR_MORE_DATA, ReadValueFromOpenKey(ClassKey(), L"Long", slots[1]));
    EXPECT_EQ("empty", Describe(slots[1]));
    EXPECT_EQ(Describe(RegistryValue::Integer(static_cast<std::int32_t>(0xdeadbeef))), Describe(slots[0]));
    EXPECT_EQ(Describe(RegistryValue::Text(L"canary")), Describe(slots[2]));
    EXPECT_EQ("empty", Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, kClassScratch, L"Long")));

    // What the routine relies on: given a capacity of four, Wine writes no byte past the fourth.
    BYTE buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), BYTE{0xCC});
    DWORD capacity = 4;
    EXPECT_EQ(ERROR_MORE_DATA, ::RegQueryValueExA(ClassKey(), "Long", nullptr, nullptr, buffer, &capacity));
    for (int i = 4; i < 8; ++i) EXPECT_EQ(0xCC, buffer[i]) << "byte " << i;
}

// wine-only: a REG_DWORD of fewer than four bytes is stored as given; the integer starts at zero and only
// the delivered bytes land in it.
TEST_F(RegistryRead, ShortDwordFillsOnlyItsBytes) {
    const BYTE ones[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const std::int32_t expected[] = {0, 0xFF, 0xFFFF, 0xFFFFFF};
    for (DWORD size = 0; size < 4; ++size) {
        SCOPED_TRACE(size);
        if (SetValue(ClassKey(), L"Short", REG_DWORD, ones, size) != ERROR_SUCCESS) {
            GTEST_SKIP() << "this registry refuses a REG_DWORD of " << size << " bytes";
        }
        RegistryValue output;
        EXPECT_EQ(ERROR_SUCCESS, ReadValueFromOpenKey(ClassKey(), L"Short", output));
        EXPECT_EQ(Describe(RegistryValue::Integer(expected[size])), Describe(output));
    }
}

// Text the ANSI code page cannot hold (U+4E2D is not in 1252, U+0E01 not in 936) goes to the
// registry altered, but the caller's own strings stay as they were.
TEST_F(RegistryArguments, CallerStringsAreLeftAlone) {
    const std::wstring keyPath = ClassPath(L"Key\u4E2D\u0E01");
    const std::wstring valueName = L"Value\u4E2D\u0E01";
    const std::wstring keyCopy = keyPath;
    const std::wstring nameCopy = valueName;

    ReadRegistryValue(HKEY_CLASSES_ROOT, keyPath, valueName);
    EXPECT_EQ(keyCopy, keyPath);
    EXPECT_EQ(nameCopy, valueName);

    RegistryValue output;
    ReadValueFromOpenKey(ClassKey(), valueName, output);
    EXPECT_EQ(nameCopy, valueName);

    DeleteRegistryKey(HKEY_CLASSES_ROOT, keyPath);
    EXPECT_EQ(keyCopy, keyPath);
    ExpectSentinelsSurvive();
}

TEST_F(RegistryDelete, DeletesALeafKey) {
    for (const Scratch& scratch : kScratches) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(scratch.path)));
        const std::wstring leaf = PathBelow(scratch, L"Leaf");
        ASSERT_TRUE(CreateKey(scratch.root, leaf));
        EXPECT_EQ(ERROR_SUCCESS, DeleteRegistryKey(scratch.root, leaf));
        EXPECT_FALSE(KeyExists(scratch.root, leaf));
    }
    ExpectSentinelsSurvive();
}

// The routine names one key and never walks its children; the registry keeps a key that still has
// sub-keys, and the routine says so. wine-only: the answer is ERROR_ACCESS_DENIED (Windows documents
// only that such a key cannot be deleted).
TEST_F(RegistryDelete, LeavesAKeyThatHasSubKeys) {
    for (const Scratch& scratch : kScratches) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(scratch.path)));
        const std::wstring parent = PathBelow(scratch, L"Parent");
        ASSERT_TRUE(CreateKey(scratch.root, parent + L"\\Child"));
        EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteRegistryKey(scratch.root, parent));
        EXPECT_TRUE(KeyExists(scratch.root, parent));
        EXPECT_TRUE(KeyExists(scratch.root, parent + L"\\Child"));
    }
    ExpectSentinelsSurvive();
}

TEST_F(RegistryDelete, MissingKeyChangesNothing) {
    for (const Scratch& scratch : kScratches) {
        SCOPED_TRACE(::testing::PrintToString(std::wstring(scratch.path)));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteRegistryKey(scratch.root, PathBelow(scratch, L"Missing")));
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteRegistryKey(scratch.root, PathBelow(scratch, L"Missing\\Deeper")));
        EXPECT_TRUE(KeyExists(scratch.root, scratch.path));
    }
    ExpectSentinelsSurvive();
}

// A key named at its physical place in the 64-bit view is read and deleted there, and its namesake
// in this 32-bit process's own view (below Wow6432Node) is left alone, and the other way round.
TEST_F(RegistryDelete, ReadsAndDeletesInTheViewItIsGiven) {
    const std::wstring path = std::wstring(kMachineScratch) + L"\\Viewed";
    for (const REGSAM view : {REGSAM{KEY_WOW64_64KEY}, REGSAM{0}}) {
        SCOPED_TRACE(view);
        const REGSAM other = view ? 0 : KEY_WOW64_64KEY;
        for (const REGSAM made : {view, other}) {
            UniqueHKey key;
            ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                                       KEY_ALL_ACCESS | made, nullptr, key.Put(), nullptr));
            const wchar_t* data = made ? L"64" : L"32";
            ASSERT_EQ(ERROR_SUCCESS, SetValue(key.Get(), L"", REG_SZ, data, 3 * sizeof(wchar_t)));
        }
        EXPECT_EQ(Describe(RegistryValue::Text(view ? std::wstring(L"64", 3) : std::wstring(L"32", 3))),
                  Describe(ReadRegistryValue(HKEY_LOCAL_MACHINE, path, L"", view)));
        EXPECT_EQ(ERROR_SUCCESS, DeleteRegistryKey(HKEY_LOCAL_MACHINE, path, view));
        EXPECT_FALSE(Registry::KeyExists(HKEY_LOCAL_MACHINE, path, view));
        EXPECT_TRUE(Registry::KeyExists(HKEY_LOCAL_MACHINE, path, other)) << "the other view's key went";
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), other, 0);
        ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kMachineScratch, KEY_WOW64_64KEY, 0);
    }
    ExpectSentinelsSurvive();
}

// A key whose DACL grants everyone KEY_READ only. The routines open every key with 0x3F, which
// asks for change rights too, so Wine refuses the open (error 5) even for a read.
class RegistryAccess : public RegistryTest {
protected:
    static constexpr wchar_t kReadOnly[] = L"SOFTWARE\\QelpadRegistryTests\\ReadOnly";

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(RegistryTest::SetUp());
        m_key = CreateKey(HKEY_LOCAL_MACHINE, kReadOnly);
        ASSERT_TRUE(m_key);
        ASSERT_EQ(ERROR_SUCCESS, SetValue(m_key.Get(), L"Path", REG_SZ, L"x", sizeof(L"x")));
        DWORD size = 0;
        ::RegGetKeySecurity(m_key.Get(), DACL_SECURITY_INFORMATION, nullptr, &size);
        m_original.resize(size);
        ASSERT_EQ(ERROR_SUCCESS, ::RegGetKeySecurity(m_key.Get(), DACL_SECURITY_INFORMATION, m_original.data(), &size));
        PSECURITY_DESCRIPTOR readOnly = nullptr;
        ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                                           &readOnly, nullptr))
            << ::GetLastError();
        const LONG rc = ::RegSetKeySecurity(m_key.Get(), DACL_SECURITY_INFORMATION, readOnly);
        ::LocalFree(readOnly);
        ASSERT_EQ(ERROR_SUCCESS, rc);
    }

    // The handle from SetUp keeps its rights, so it can put the old DACL back before the tree goes.
    void TearDown() override {
        if (m_key && !m_original.empty()) {
            EXPECT_EQ(ERROR_SUCCESS, ::RegSetKeySecurity(m_key.Get(), DACL_SECURITY_INFORMATION, m_original.data()));
        }
        m_key.Reset();
        RegistryTest::TearDown();
    }

private:
    UniqueHKey m_key;
    std::vector<BYTE> m_original;
};

// wine-only: Wine grants DELETE (and MAXIMUM_ALLOWED) on such a key all the same, so the key could
// be deleted; only the read is refused.
TEST_F(RegistryAccess, ReadOnlyKeyReadsAsEmpty) {
    LONG opened = static_cast<LONG>(0xdeadbeef);
    EXPECT_EQ("empty", Describe(ReadRegistryValue(HKEY_LOCAL_MACHINE, kReadOnly, L"Path", 0, &opened)));
    EXPECT_EQ(ERROR_ACCESS_DENIED, opened);

    // The key is there and readable with KEY_READ: only the routines' access was refused.
    UniqueHKey key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kReadOnly, 0, KEY_READ, key.Put()));
    wchar_t data[8] = {};
    DWORD size = sizeof(data);
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExW(key.Get(), L"Path", nullptr, nullptr,
                                                reinterpret_cast<BYTE*>(data), &size));
    EXPECT_STREQ(L"x", data);
}

TEST(RegistryValueText, EachStateHasItsText) {
    EXPECT_EQ(L"", RegistryValue().ToText());
    EXPECT_EQ(L"0", RegistryValue::Integer(0).ToText());
    EXPECT_EQ(L"-1", RegistryValue::Integer(-1).ToText());
    EXPECT_EQ(L"2147483647", RegistryValue::Integer(INT32_MAX).ToText());
    EXPECT_EQ(L"-2147483648", RegistryValue::Integer(INT32_MIN).ToText());
    const std::wstring withNul(L"C:\\a.dll\0", 9);
    EXPECT_EQ(withNul, RegistryValue::Text(withNul).ToText());
}

// Chinese text travels through the ANSI functions, so it survives only where the ANSI code page is
// 936. Under Wine, the locale zh_CN.UTF-8 gives 936 (scripts/wine-run.sh sets it from QELPAD_LOCALE).
// With QELPAD_EXPECT_ACP=936 another code page is a failure, not a skip.
class RegistryCodePage936 : public RegistryTest {
protected:
    void SetUp() override {
        const UINT acp = ::GetACP();
        if (acp != 936) {
            const char* expected = std::getenv("QELPAD_EXPECT_ACP");
            if (expected && std::string(expected) == "936") FAIL() << "the ANSI code page is " << acp << ", not 936";
            GTEST_SKIP() << "the ANSI code page is " << acp << "; run with QELPAD_LOCALE=zh_CN.UTF-8";
        }
        RegistryTest::SetUp();
    }
};

TEST_F(RegistryCodePage936, ChineseFolderPathReadsBack) {
    const std::wstring path = L"C:\\中文目录\\Qelpad80.dll";
    const UniqueHKey bitmap = CreateKey(ClassKey(), L"ToolboxBitmap32");
    ASSERT_EQ(ERROR_SUCCESS, SetValue(bitmap.Get(), L"", REG_SZ, path.c_str(),
                                      static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))));

    // Wine's ANSI size query reports the bytes in the code page (25 with the NUL), not the UTF-16 size (42).
    DWORD size = 0;
    EXPECT_EQ(ERROR_SUCCESS, ::RegQueryValueExA(bitmap.Get(), "", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(25u, size);

    EXPECT_EQ(Describe(RegistryValue::Text(path + L'\0')),
              Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, ClassPath(L"ToolboxBitmap32"), L"")));
}

TEST_F(RegistryCodePage936, ChineseKeyPathAndValueNameAreFound) {
    const std::wstring keyPath = ClassPath(L"控件");
    const UniqueHKey key = CreateKey(HKEY_CLASSES_ROOT, keyPath);
    const DWORD number = 936;
    ASSERT_EQ(ERROR_SUCCESS, SetValue(key.Get(), L"代码页", REG_DWORD, &number, sizeof(number)));

    EXPECT_EQ("integer 936", Describe(ReadRegistryValue(HKEY_CLASSES_ROOT, keyPath, L"代码页")));
    DeleteRegistryKey(HKEY_CLASSES_ROOT, keyPath);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, keyPath));
    ExpectSentinelsSurvive();
}

}  // namespace
