#include "base/zstd_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/unit/zstd_fixture.h"

namespace {

struct Decoded {
  ZstdStep last = ZstdStep::Failed;
  ZstdFailure failure = ZstdFailure::None;
  std::vector<uint8_t> bytes;
  std::vector<size_t> pieces;
};

Decoded DecodeAll(const std::vector<uint8_t>& frame, unsigned windowLogMax = 23, size_t capacity = 65534,
                  const std::vector<uint8_t>* prefix = nullptr) {
  Decoded d;
  ZstdStream* stream = ZstdOpenStream(frame.data(), frame.size(), windowLogMax, prefix ? prefix->data() : nullptr,
                                      prefix ? prefix->size() : 0, nullptr, &d.failure);
  if (stream == nullptr) return d;
  std::vector<uint8_t> out(capacity);
  for (;;) {
    size_t produced = 0;
    d.last = ZstdNextPiece(stream, out.data(), capacity, &produced, &d.failure);
    if (d.last == ZstdStep::Failed) break;
    if (produced > 0) d.pieces.push_back(produced);
    d.bytes.insert(d.bytes.end(), out.begin(), out.begin() + static_cast<std::ptrdiff_t>(produced));
    if (d.last == ZstdStep::End) break;
    if (d.pieces.size() > 1000000) {
      ADD_FAILURE() << "the decoder does not end";
      break;
    }
  }
  ZstdCloseStream(stream);
  return d;
}

// Where a frame's declared content size sits, and how many bytes it takes.
void ContentSizeField(const std::vector<uint8_t>& frame, size_t* at, size_t* width) {
  const uint8_t descriptor = frame[4];
  const bool singleSegment = (descriptor >> 5) & 1;
  const size_t dictionaryWidths[] = {0, 1, 2, 4};
  const size_t sizeWidths[] = {singleSegment ? 1u : 0u, 2, 4, 8};
  *at = 5 + (singleSegment ? 0 : 1) + dictionaryWidths[descriptor & 3];
  *width = sizeWidths[descriptor >> 6];
}

TEST(ZstdStream, DecodesIntoPiecesOfTheCallersSize) {
  const std::vector<uint8_t> content = SampleContent(300000);
  const std::vector<uint8_t> frame = Frame(content, {19});
  ASSERT_FALSE(frame.empty());
  for (size_t capacity : {size_t{1}, size_t{4096}, size_t{65534}, content.size() + 10}) {
    SCOPED_TRACE(capacity);
    Decoded d = DecodeAll(frame, 23, capacity);
    EXPECT_EQ(d.last, ZstdStep::End);
    EXPECT_EQ(d.failure, ZstdFailure::None);
    EXPECT_TRUE(d.bytes == content);
    // Every piece but the last fills the buffer.
    for (size_t i = 0; i + 1 < d.pieces.size(); ++i) ASSERT_EQ(d.pieces[i], capacity);
    ASSERT_FALSE(d.pieces.empty());
    EXPECT_LE(d.pieces.back(), capacity);
  }
}

TEST(ZstdStream, EmptyContentEndsAtOnce) {
  Decoded d = DecodeAll(Frame({}));
  EXPECT_EQ(d.last, ZstdStep::End);
  EXPECT_TRUE(d.bytes.empty());
}

TEST(ZstdStream, ReadsWhatTheHeaderDeclares) {
  const std::vector<uint8_t> content = SampleContent(100000);
  struct Case {
    const char* name;
    FrameOptions options;
  };
  for (const Case& c : {Case{"sized, checked", {3, 0, true, true}}, Case{"unsized", {3, 0, false, true}},
                        Case{"unchecked", {3, 0, true, false}}, Case{"window 2^20", {3, 20, true, true}}}) {
    SCOPED_TRACE(c.name);
    const std::vector<uint8_t> frame = Frame(content, c.options);
    ZstdFrameInfo info{};
    ASSERT_TRUE(ZstdReadFrameHeader(frame.data(), frame.size(), &info));
    EXPECT_EQ(info.sizeDeclared, c.options.declareSize);
    EXPECT_EQ(info.contentSize, c.options.declareSize ? content.size() : 0u);
    EXPECT_EQ(info.checksummed, c.options.checksum);
    EXPECT_GE(info.windowSize, c.options.declareSize ? content.size() : 1024u);
  }
  const std::vector<uint8_t> frame = Frame(content);
  ZstdFrameInfo info{};
  EXPECT_FALSE(ZstdReadFrameHeader(frame.data(), 5, &info)) << "cut inside the header";
  EXPECT_FALSE(ZstdReadFrameHeader(content.data(), content.size(), &info)) << "not a frame";
  const std::vector<uint8_t> skippable = {0x50, 0x2A, 0x4D, 0x18, 0, 0, 0, 0};
  EXPECT_FALSE(ZstdReadFrameHeader(skippable.data(), skippable.size(), &info)) << "a skippable frame";
}

// Every kind of damage ends in Failed, never in End with wrong bytes.
TEST(ZstdStream, RefusesDamagedFrames) {
  const std::vector<uint8_t> content = SampleContent(200000);
  const std::vector<uint8_t> good = Frame(content, {19});
  ASSERT_EQ(DecodeAll(good).last, ZstdStep::End);
  size_t sizeAt = 0, sizeWidth = 0;
  ContentSizeField(good, &sizeAt, &sizeWidth);
  ASSERT_GT(sizeWidth, 0u);

  struct Case {
    std::string name;
    std::vector<uint8_t> frame;
    unsigned windowLogMax;
    ZstdFailure failure;
  };
  std::vector<Case> cases;
  auto add = [&](std::string name, std::vector<uint8_t> frame, ZstdFailure failure = ZstdFailure::Damaged,
                 unsigned windowLogMax = 23) {
    cases.push_back({std::move(name), std::move(frame), windowLogMax, failure});
  };
  for (size_t at : {size_t{0}, size_t{4}, size_t{12}, good.size() / 3, good.size() / 2, good.size() - 5}) {
    std::vector<uint8_t> f = good;
    f[at] ^= 0x5A;
    add("byte " + std::to_string(at) + " flipped", f);
  }
  for (size_t keep : {size_t{0}, size_t{3}, size_t{9}, good.size() / 2, good.size() - 4, good.size() - 1}) {
    add("cut to " + std::to_string(keep), std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(keep)));
  }
  {
    std::vector<uint8_t> f = good;
    f.push_back(0);
    add("one trailing byte", f);
    std::vector<uint8_t> g = good;
    g.insert(g.end(), good.begin(), good.end());
    add("a second frame after it", g);
  }
  for (int delta : {+1, -1}) {
    std::vector<uint8_t> f = good;
    f[sizeAt] = static_cast<uint8_t>(f[sizeAt] + delta);
    add(std::string("declared size ") + (delta > 0 ? "larger" : "smaller"), f);
  }
  {
    std::vector<uint8_t> f = good;
    f[f.size() - 1] ^= 1;
    add("checksum does not match", f);
  }
  // The encoder fits the window to the content: 200,000 bytes need 2^18.
  add("window above the limit", good, ZstdFailure::WindowTooLarge, 17);

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = DecodeAll(c.frame, c.windowLogMax);
    EXPECT_EQ(d.last, ZstdStep::Failed);
    EXPECT_EQ(d.failure, c.failure);
  }
}

TEST(ZstdStream, AWindowAtTheLimitIsAllowed) {
  const std::vector<uint8_t> content = SampleContent(200000);
  Decoded d = DecodeAll(Frame(content, {19}), 18);
  EXPECT_EQ(d.last, ZstdStep::End);
  EXPECT_TRUE(d.bytes == content);
}

TEST(ZstdStream, APrefixIsTheReferenceOfOneFrame) {
  const std::vector<uint8_t> reference = SampleContent(150000, 1);
  std::vector<uint8_t> content = reference;
  for (size_t i = 0; i < content.size(); i += 9000) content[i] ^= 0x20;  // a few changes
  const std::vector<uint8_t> delta = Frame(content, {19, 20}, &reference);
  ASSERT_LT(delta.size(), Frame(content, {19, 20}).size() / 4) << "the frame must lean on the reference";

  Decoded d = DecodeAll(delta, 20, 65534, &reference);
  EXPECT_EQ(d.last, ZstdStep::End);
  EXPECT_TRUE(d.bytes == content);
  EXPECT_EQ(DecodeAll(delta, 20).last, ZstdStep::Failed) << "without its reference";
  const std::vector<uint8_t> other = SampleContent(150000, 2);
  EXPECT_EQ(DecodeAll(delta, 20, 65534, &other).last, ZstdStep::Failed) << "against another reference";
}

TEST(ZstdHash, IsXxh64InAnyParts) {
  ZstdHash h;
  ZstdHashStart(&h);
  EXPECT_EQ(ZstdHashValue(&h), 0xEF46DB3751D8E999ull);
  ZstdHashAdd(&h, "a", 1);
  EXPECT_EQ(ZstdHashValue(&h), 0xD24EC4F1A98C6E5Bull);

  const std::vector<uint8_t> content = SampleContent(100000);
  ZstdHash whole, parts;
  ZstdHashStart(&whole);
  ZstdHashAdd(&whole, content.data(), content.size());
  ZstdHashStart(&parts);
  for (size_t at = 0; at < content.size(); at += 7777) {
    ZstdHashAdd(&parts, content.data() + at, std::min<size_t>(7777, content.size() - at));
  }
  EXPECT_EQ(ZstdHashValue(&whole), ZstdHashValue(&parts));
}

}  // namespace
