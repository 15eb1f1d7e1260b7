#include "platform/DirectoryU.h"
#include "platform/FileU.h"
#include "platform/StreamU.h"

#include "ScratchFiles.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>

namespace {

std::string Bytes(const char *data, size_t size) { return std::string(data, size); }

TEST(Stream, TypedValuesInSlotOrderRoundTrip)
{
    TMemoryStreamWriter w;
    ASSERT_TRUE(w.WriteText("tx"));
    ASSERT_TRUE(w.WriteLine("ln"));
    ASSERT_TRUE(w.WriteString("abc"));
    ASSERT_TRUE(w.WriteInt32(-2));
    ASSERT_TRUE(w.WriteByte(0xFE));
    ASSERT_TRUE(w.WriteInt64(0x0102030405060708LL));
    ASSERT_TRUE(w.WriteChar('Z'));
    ASSERT_TRUE(w.WriteInt16(0x1234));
    ASSERT_TRUE(w.WriteBuffer("\0\1", 2));
    ASSERT_TRUE(w.WriteString(""));

    const std::string expected = Bytes("tx"
                                       "ln\r\n"
                                       "\3\0\0\0abc"
                                       "\xFE\xFF\xFF\xFF"
                                       "\xFE"
                                       "\x08\x07\x06\x05\x04\x03\x02\x01"
                                       "Z"
                                       "\x34\x12"
                                       "\0\1"
                                       "\0\0\0\0",
                                       2 + 4 + 7 + 4 + 1 + 8 + 1 + 2 + 2 + 4);
    EXPECT_EQ(w.Data(), expected);
    EXPECT_EQ(w.Size(), int64_t(expected.size()));

    TStreamReader r(&w.Memory());
    ASSERT_TRUE(w.Memory().SetPosition(0));
    char text[6] = {};
    int32_t i32 = 0;
    uint8_t b = 0;
    int64_t i64 = 0;
    char c = 0;
    int16_t i16 = 0;
    std::string s, empty = "stale";
    EXPECT_TRUE(r.ReadBuffer(text, 6));
    EXPECT_EQ(std::string(text, 6), "txln\r\n");
    EXPECT_TRUE(r.ReadString(s));
    EXPECT_EQ(s, "abc");
    EXPECT_TRUE(r.ReadInt32(i32));
    EXPECT_EQ(i32, -2);
    EXPECT_TRUE(r.ReadByte(b));
    EXPECT_EQ(b, 0xFE);
    EXPECT_TRUE(r.ReadInt64(i64));
    EXPECT_EQ(i64, 0x0102030405060708LL);
    EXPECT_TRUE(r.ReadChar(c));
    EXPECT_EQ(c, 'Z');
    EXPECT_TRUE(r.ReadInt16(i16));
    EXPECT_EQ(i16, 0x1234);
    EXPECT_TRUE(r.ReadBuffer(text, 2));
    EXPECT_TRUE(r.ReadString(empty));
    EXPECT_EQ(empty, "");
    EXPECT_FALSE(r.ReadByte(b)) << "at the end";
    EXPECT_EQ(b, 0);
}

TEST(Stream, ShortReadsFailAndYieldZero)
{
    TMemoryStreamWriter w;
    w.WriteInt16(7);
    TStreamReader r(&w.Memory());
    w.Memory().SetPosition(0);
    int32_t v = 99;
    EXPECT_FALSE(r.ReadInt32(v));
    EXPECT_EQ(v, 0);

    // A length that runs past the end (a damaged file) fails without reading
    // or allocating what it claims.
    for (int32_t length : {4, -1, 0x7FFFFFFF}) {
        TMemoryStreamWriter bad;
        bad.WriteInt32(length);
        bad.WriteText("ab");
        bad.Memory().SetPosition(0);
        TStreamReader br(&bad.Memory());
        std::string s = "stale";
        EXPECT_FALSE(br.ReadString(s)) << length;
        EXPECT_EQ(s, "") << length;
    }
}

TEST(Stream, ReadAllAsksForTheWholeSize)
{
    TMemoryStreamWriter w;
    w.WriteText("0123456789");
    TStreamReader r(&w.Memory());
    std::string all = "stale";
    w.Memory().SetPosition(0);
    EXPECT_TRUE(r.ReadAll(all));
    EXPECT_EQ(all, "0123456789");

    w.Memory().SetPosition(4);
    EXPECT_FALSE(r.ReadAll(all)) << "only part of the stream is left";
    w.Memory().SetPosition(0);
    all = "stale";
    EXPECT_TRUE(r.ReadAllFresh(all));
    EXPECT_EQ(all, "0123456789");
}

TEST(Stream, CopiesBetweenStreams)
{
    TMemoryStreamWriter source;
    source.WriteText("0123456789");
    source.Memory().SetPosition(6);  // copies of the whole stream start at 0 anyway

    TMemoryStreamWriter a, b;
    a.WriteText(">");
    EXPECT_TRUE(a.WriteFromStream(source.Memory()));
    EXPECT_EQ(a.Data(), ">0123456789");
    b.WriteText(">");
    EXPECT_TRUE(b.WriteStreamContents(source.Memory()));
    EXPECT_EQ(b.Data(), ">0123456789");

    TStreamReader r(&source.Memory());
    TMemoryStream whole, rest;
    source.Memory().SetPosition(3);
    EXPECT_TRUE(r.ReadToStream(whole));
    EXPECT_EQ(whole.Data(), "0123456789");
    source.Memory().SetPosition(7);
    EXPECT_TRUE(r.ReadRemainder(rest));
    EXPECT_EQ(rest.Data(), "789");
}

TEST(Stream, NoStreamFailsEverything)
{
    TStreamWriter w;
    TStreamReader r;
    TMemoryStream m;
    std::string text = "kept";
    int32_t v = 5;
    EXPECT_EQ(w.Size(), -1);
    EXPECT_EQ(r.Size(), -1);
    EXPECT_FALSE(w.WriteText("x"));
    EXPECT_FALSE(w.WriteText(""));
    EXPECT_FALSE(w.WriteString("x"));
    EXPECT_FALSE(w.WriteInt32(1));
    EXPECT_FALSE(w.WriteFromStream(m));
    EXPECT_FALSE(r.ReadAll(text));
    EXPECT_EQ(text, "kept");
    EXPECT_FALSE(r.ReadAllFresh(text));
    EXPECT_EQ(text, "");
    EXPECT_FALSE(r.ReadInt32(v));
    EXPECT_EQ(v, 0);
    EXPECT_FALSE(r.ReadToStream(m));
    EXPECT_FALSE(r.ReadRemainder(m));
}

// ---- files -----------------------------------------------------------------

class StreamFiles : public scratch::Folder {
protected:
    StreamFiles() : Folder("Stream") {}
};

std::string Contents(const std::string &path)
{
    std::string text;
    ReadFileToString(path, text);
    return text;
}

TEST_F(StreamFiles, WriterCreatesFoldersTruncatesAndAppends)
{
    const std::string file = Path("new\\dir\\file.bin");
    {
        TFileWriter w;
        ASSERT_TRUE(w.Open(file));
        EXPECT_TRUE(DirectoryExists(Path("new\\dir")));
        EXPECT_TRUE(w.WriteString("abc"));
        EXPECT_TRUE(w.Flush());
    }  // destroying closes: the file opens without sharing now
    HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    EXPECT_EQ(Contents(file), Bytes("\3\0\0\0abc", 7));

    TFileWriter w;
    w.Append = true;
    ASSERT_TRUE(w.Open(file));
    EXPECT_TRUE(w.WriteText("+tail"));
    w.Close();
    EXPECT_EQ(Contents(file), Bytes("\3\0\0\0abc+tail", 12));

    w.Append = false;
    ASSERT_TRUE(w.Open(file));
    EXPECT_TRUE(w.WriteText("new"));
    w.Close();
    EXPECT_EQ(Contents(file), "new");
    EXPECT_FALSE(w.WriteText("closed"));
    EXPECT_EQ(w.Handle(), INVALID_HANDLE_VALUE);
}

TEST_F(StreamFiles, WriterSharingFollowsFlags)
{
    const std::string file = Path("shared.txt");
    TFileWriter w;
    ASSERT_TRUE(w.Open(file));
    TFileReader r;
    r.OpenTimeout = 0;
    EXPECT_FALSE(r.Open(file)) << "no read sharing by default";
    w.Close();

    w.ShareRead = true;
    ASSERT_TRUE(w.Open(file));
    w.WriteText("visible");
    r.ShareWrite = false;
    EXPECT_FALSE(r.Open(file)) << "a reader that does not share writing cannot join a writer";
    r.ShareWrite = true;
    ASSERT_TRUE(r.Open(file));
    EXPECT_EQ(r.FileName(), file);
    std::string text;
    EXPECT_TRUE(r.ReadAll(text));
    EXPECT_EQ(text, "visible");
}

TEST_F(StreamFiles, WriterGivesNewFilesEveryoneAccess)
{
    TFileWriter open, plain;
    plain.EveryoneAccess = false;
    ASSERT_TRUE(open.Open(Path("open.bin")));
    ASSERT_TRUE(plain.Open(Path("plain.bin")));
    open.Close();
    plain.Close();
    EXPECT_FALSE(scratch::EveryoneCanChange(Path("plain.bin")));
    if (!scratch::CreationDescriptorsKept(dir_))
        GTEST_SKIP() << "this system ignores descriptors given at creation";
    EXPECT_TRUE(scratch::EveryoneCanChange(Path("open.bin")));
}

// Holds a file open without any sharing for a while on another thread, as
// another process writing it would.
class ExclusiveHolder {
public:
    ExclusiveHolder(const std::string &path, DWORD holdMs)
    {
        h_ = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                         nullptr);
        if (h_ != INVALID_HANDLE_VALUE)
            thread_ = std::thread([h = h_, holdMs] {
                Sleep(holdMs);
                CloseHandle(h);
            });
    }
    ~ExclusiveHolder()
    {
        if (thread_.joinable()) thread_.join();
    }
    bool Ok() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
    std::thread thread_;
};

TEST_F(StreamFiles, OpenWaitsForAHolderThatLetsGo)
{
    const std::string file = Path("held.txt");
    {
        TFileWriter w;
        ASSERT_TRUE(w.Open(file));
        w.WriteText("payload");
    }
    {
        ExclusiveHolder holder(file, 300);
        ASSERT_TRUE(holder.Ok());
        TFileReader r;
        DWORD start = GetTickCount();
        ASSERT_TRUE(r.Open(file));
        EXPECT_GE(GetTickCount() - start, 150u) << "opened while the holder still had it";
        std::string text;
        EXPECT_TRUE(r.ReadAll(text));
        EXPECT_EQ(text, "payload");
    }
    {
        ExclusiveHolder holder(file, 300);
        ASSERT_TRUE(holder.Ok());
        TFileWriter w;
        EXPECT_TRUE(w.Open(file));
    }
    std::string text;
    EXPECT_TRUE(ReadFileToString(file, text));
    EXPECT_EQ(text, "");

    // Held longer than the retries last: the open fails and leaves the reader closed.
    {
        ExclusiveHolder holder(file, 2500);
        ASSERT_TRUE(holder.Ok());
        TFileReader r;
        EXPECT_FALSE(r.Open(file));
        EXPECT_EQ(r.Handle(), INVALID_HANDLE_VALUE);
        EXPECT_EQ(r.Size(), -1);
    }
}

TEST_F(StreamFiles, OpenDoesNotRetryAMissingFile)
{
    TFileReader r;
    DWORD start = GetTickCount();
    EXPECT_FALSE(r.Open(Path("missing.txt")));
    EXPECT_LT(GetTickCount() - start, 500u);
}

} // namespace
