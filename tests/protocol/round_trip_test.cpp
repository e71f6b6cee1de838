#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "Station.h"

using namespace vantor;

namespace {

// Fills every field that a variable's entry names with pseudo-random bytes.
void Scramble(ValueStorage& values, uint8_t index, std::mt19937& random) {
  const VariableDescriptor& entry = VariableDictionary[index];
  auto fill = [&](uint16_t offset, size_t size) {
    for (size_t i = 0; i < size; ++i) {
      FieldOf(values, offset)[i] = static_cast<uint8_t>(random());
    }
  };
  if (entry.Type == TypeStruct) {
    for (uint8_t m = 0; m < entry.MemberCount; ++m) {
      fill(entry.Members[m].Offset, TypeSize(entry.Members[m].Type, nullptr));
    }
  } else if (entry.Type == TypeArray) {
    fill(entry.Array->Offset, entry.Array->Count * TypeSize(entry.Array->ElementType, nullptr));
  } else if (entry.Type == TypeText) {
    std::strcpy(values.Firmware.data(), "fw 1.07");
  } else {
    fill(entry.Offset, TypeSize(entry.Type, nullptr));
  }
}

bool SameValue(const ValueStorage& a, const ValueStorage& b, uint8_t index) {
  const VariableDescriptor& entry = VariableDictionary[index];
  auto same = [&](uint16_t offset, size_t size) {
    return std::memcmp(FieldOf(a, offset), FieldOf(b, offset), size) == 0;
  };
  if (entry.Type == TypeStruct) {
    for (uint8_t m = 0; m < entry.MemberCount; ++m) {
      if (!same(entry.Members[m].Offset, TypeSize(entry.Members[m].Type, nullptr))) {
        return false;
      }
    }
    return true;
  }
  if (entry.Type == TypeArray) {
    return same(entry.Array->Offset,
                entry.Array->Count * TypeSize(entry.Array->ElementType, nullptr));
  }
  if (entry.Type == TypeText) {
    return std::strcmp(a.Firmware.data(), b.Firmware.data()) == 0;
  }
  return same(entry.Offset, TypeSize(entry.Type, nullptr));
}

struct Link {
  Station host;
  Station device;
  std::vector<uint8_t> reply;

  Link() {
    host.InitDictionary();
    device.SetOwnAddress(DefaultDeviceAddress);
    std::strcpy(device.Values.Firmware.data(), "fw 1.07");
    device.InitDictionary();
    device.OnFrameReady = [this](const uint8_t* f, size_t n) { reply.assign(f, f + n); };
  }

  int Transact(FrameBuffer& frame, size_t length, uint8_t index) {
    reply.clear();
    if (device.HandleRequest(frame, length) != 1 || reply.empty()) {
      return 0;
    }
    std::copy(reply.begin(), reply.end(), frame.begin());
    if (FindReplyStart(frame.data(), reply.size(), host.OwnAddressOnWire()) != 0) {
      return 0;
    }
    return host.ParseReply(frame, reply.size(), index);
  }
};

}  // namespace

TEST(RoundTrip, EveryReadableVariableArrivesUnchangedAtTheRequester) {
  std::mt19937 random(7);
  for (uint8_t index = 0; index < VariableCount; ++index) {
    const VariableDescriptor& entry = VariableDictionary[index];
    if ((entry.Access & AccessRead) == 0 || entry.Id == IdStationAddress) {
      continue;
    }
    Link link;
    Scramble(link.device.Values, index, random);
    FrameBuffer frame{};
    const size_t n = link.host.BuildReadRequest(frame, index, DefaultDeviceAddress);
    ASSERT_EQ(link.Transact(frame, n, index), 1) << "variable " << int(entry.Id);
    EXPECT_TRUE(SameValue(link.host.Values, link.device.Values, index)) << int(entry.Id);
  }
}

TEST(RoundTrip, EveryWritableVariableArrivesUnchangedAtTheInstrument) {
  std::mt19937 random(11);
  for (uint8_t index = 0; index < VariableCount; ++index) {
    const VariableDescriptor& entry = VariableDictionary[index];
    // Writing variable 9 would give the requester the instrument's own
    // address, and replies from oneself are refused by design.
    if ((entry.Access & AccessWrite) == 0 || entry.Type == TypeText ||
        entry.Id == IdStationAddress) {
      continue;
    }
    Link link;
    Scramble(link.host.Values, index, random);
    FrameBuffer frame{};
    const size_t n = link.host.BuildWriteRequest(frame, index, DefaultDeviceAddress);
    ASSERT_EQ(link.Transact(frame, n, index), 1) << "variable " << int(entry.Id);
    EXPECT_EQ(link.reply.size(), HeaderSize) << "a write is acknowledged by a bare header";
    EXPECT_TRUE(SameValue(link.host.Values, link.device.Values, index)) << int(entry.Id);
  }
}
