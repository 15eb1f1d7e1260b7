#include "platform/Sha256U.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <sstream>
#include <string>

namespace {

TEST(Sha256, PublishedVectors)
{
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    // 56 bytes: the padding no longer fits the first block.
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    TSha256 pieces;
    const std::string a(1000, 'a');
    for (int i = 0; i < 1000; ++i) pieces.Update(a.data(), a.size());
    EXPECT_EQ(pieces.HexDigest(), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

TEST(Sha256, FilesAgreeWithTheHostTool)
{
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string folder = self;
    folder = folder.substr(0, folder.find_last_of('\\') + 1) + "cabs\\";
    std::string sums;
    HANDLE h = CreateFileA((folder + "SHA256SUMS").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buffer[4096];
    DWORD n = 0;
    ReadFile(h, buffer, sizeof buffer, &n, nullptr);
    CloseHandle(h);
    std::istringstream lines(std::string(buffer, n));
    std::string digest, name;
    int files = 0;
    while (lines >> digest >> name) {
        for (char &c : name)
            if (c == '/') c = '\\';
        std::string ours;
        ASSERT_TRUE(FileSha256Hex(folder + name, ours)) << name;
        EXPECT_EQ(ours, digest) << name;
        ++files;
    }
    EXPECT_GE(files, 5);
    std::string none;
    EXPECT_FALSE(FileSha256Hex(folder + "missing.bin", none));
    EXPECT_TRUE(none.empty());
}

}  // namespace
