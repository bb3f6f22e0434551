// Peak heap use while decoding hostile messages. Every allocation in this
// program goes through the counting operator new below, so what a decode
// costs at its worst moment is measured, not just what it returns.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "embedding/standard_codec.h"
#include "tests/support/stream_capture.h"

namespace {

std::atomic<size_t> g_current{0};
std::atomic<size_t> g_peak{0};

// Each block starts with its size, kept a full alignment unit ahead so the
// caller's part stays aligned for any fundamental type.
constexpr size_t kHeader = alignof(std::max_align_t);

void* CountedAllocate(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) return nullptr;
  *static_cast<size_t*>(block) = size;
  const size_t now = g_current.fetch_add(size) + size;
  size_t peak = g_peak.load();
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void CountedFree(void* pointer) {
  if (pointer == nullptr) return;
  void* block = static_cast<char*>(pointer) - kHeader;
  g_current.fetch_sub(*static_cast<size_t*>(block));
  std::free(block);
}

// Peak bytes in use above what was in use when it started.
class PeakMeter {
 public:
  PeakMeter() : base_(g_current.load()) { g_peak.store(base_); }
  size_t peak() const { return g_peak.load() - base_; }

 private:
  size_t base_;
};

}  // namespace

void* operator new(size_t size) {
  void* pointer = CountedAllocate(size);
  if (pointer == nullptr) throw std::bad_alloc();
  return pointer;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return CountedAllocate(size);
}
void operator delete(void* pointer) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, size_t) noexcept { CountedFree(pointer); }
void operator delete(void* pointer, const std::nothrow_t&) noexcept {
  CountedFree(pointer);
}

namespace flutter {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr size_t kMiB = size_t{1} << 20;

// The method "m" with arguments of |levels| nested lists, each announcing
// 2^32 - 1 elements, followed by |zeros| zero bytes (null elements of the
// innermost list).
Bytes NestedHugeListsCall(int levels, size_t zeros) {
  Bytes message = {7, 1, 'm'};
  for (int i = 0; i < levels; ++i) {
    message.insert(message.end(), {12, 255, 0xff, 0xff, 0xff, 0xff});
  }
  message.resize(message.size() + zeros, 0);
  return message;
}

// What decoding may cost at worst: room for one value per byte reserved
// ahead by one list, while another grows into as many values by doubling.
size_t ProportionalLimit(size_t message_size) {
  return 5 * message_size * sizeof(EncodableValue) + 4 * kMiB;
}

// Reserving the announced count at every level used to reach 7.2 GiB for
// a 1 MiB message.
TEST(CodecMemoryTest, NestedHugeListsPeakInProportionToTheMessage) {
  for (size_t zeros : {size_t{64} << 10, kMiB}) {
    const Bytes message = NestedHugeListsCall(128, zeros);
    std::unique_ptr<MethodCall> call;
    size_t peak = 0;
    {
      test_support::StreamCapture quiet;
      PeakMeter meter;
      call = StandardMethodCodec::GetInstance().DecodeMethodCall(
          message.data(), message.size());
      peak = meter.peak();
    }
    ASSERT_NE(call, nullptr);
    // The innermost list's nulls are the decoded size (one value per byte);
    // growing into them by doubling peaked at 84 times the message.
    EXPECT_LE(peak, 64 * message.size() + kMiB) << "zeros " << zeros;
    // The decoded nulls alone take this much: a meter that missed the
    // decoder's allocations would pass the limit above unseen.
    EXPECT_GE(peak, zeros * sizeof(EncodableValue));
    // The innermost list holds every null the message sent.
    const EncodableValue* value = call->arguments();
    for (int level = 1; level < 128; ++level) {
      value = &std::get<EncodableList>(*value)[0];
    }
    EXPECT_EQ(std::get<EncodableList>(*value).size(), zeros);
  }
}

// Each level's second element is the next level: every list has read its
// first element, with nearly the whole message still ahead, when the next
// one starts. Room reserved at each level would be gigabytes.
TEST(CodecMemoryTest, ListsNestedAfterTheirFirstElementPeakInProportion) {
  Bytes message = {7, 1, 'm'};
  for (int i = 0; i < 100; ++i) {
    message.insert(message.end(), {12, 255, 0xff, 0xff, 0xff, 0xff, 0});
  }
  message.resize(message.size() + kMiB, 0);
  std::unique_ptr<MethodCall> call;
  size_t peak = 0;
  {
    test_support::StreamCapture quiet;
    PeakMeter meter;
    call = StandardMethodCodec::GetInstance().DecodeMethodCall(message.data(),
                                                               message.size());
    peak = meter.peak();
  }
  ASSERT_NE(call, nullptr);
  EXPECT_LE(peak, ProportionalLimit(message.size()));
  const EncodableValue* value = call->arguments();
  for (int level = 1; level < 100; ++level) {
    const auto& list = std::get<EncodableList>(*value);
    ASSERT_EQ(list.size(), 2u) << "level " << level;
    value = &list[1];
  }
  EXPECT_EQ(std::get<EncodableList>(*value).size(), kMiB + 1);
}

// Texts and typed lists announcing gigabytes are refused before anything
// is allocated for them.
TEST(CodecMemoryTest, AnnouncedTextsAndTypedListsAllocateNothing) {
  const Bytes messages[] = {
      {7, 255, 0xff, 0xff, 0xff, 0xff, 'a'},
      {8, 255, 0xff, 0xff, 0xff, 0xff, 1, 2},
      {9, 255, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 2, 3},
      {11, 255, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 2, 3},
      {14, 255, 0xff, 0xff, 0xff, 0xff, 0, 0, 1, 2, 3},
  };
  for (const Bytes& message : messages) {
    test_support::StreamCapture quiet;
    PeakMeter meter;
    ByteBufferStreamReader reader(message.data(), message.size());
    const EncodableValue value =
        StandardCodecSerializer::GetInstance().ReadValue(&reader);
    EXPECT_LE(meter.peak(), size_t{64} << 10) << int{message[0]};
  }
}

}  // namespace
}  // namespace flutter
