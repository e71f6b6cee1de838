#include "Station.h"

#include <algorithm>
#include <cstring>

namespace vantor {
namespace {

uint16_t PayloadSizeOf(const VariableDescriptor& entry, const ValueStorage& values) {
  switch (entry.Type) {
    case TypeStruct: {
      uint16_t size = 2 + entry.MemberCount;
      for (uint8_t m = 0; m < entry.MemberCount; ++m) {
        const MemberDescriptor& member = entry.Members[m];
        size += TypeSize(member.Type, FieldOf(values, member.Offset));
      }
      return size;
    }
    case TypeArray:
      return static_cast<uint16_t>(2 + entry.Array->Count *
                                           TypeSize(entry.Array->ElementType, nullptr));
    default:
      return static_cast<uint16_t>(
          1 + TypeSize(entry.Type, FieldOf(values, entry.Offset), FirmwareTextCapacity));
  }
}

void WriteHeader(uint8_t* frame, const Address& destination, const Address& source, uint8_t opcode,
                 uint8_t typeByte, uint16_t payloadLength) {
  std::copy(destination.begin(), destination.end(), frame);
  std::copy(source.begin(), source.end(), frame + 3);
  frame[6] = opcode;
  frame[7] = typeByte;
  frame[8] = static_cast<uint8_t>(payloadLength);
  frame[9] = static_cast<uint8_t>(payloadLength >> 8);
  WriteLe32(frame + 10, Checksum32(frame, 10));
}

size_t SealPayload(uint8_t* frame, uint16_t payloadLength) {
  if (payloadLength == 0) {
    return HeaderSize;
  }
  WriteLe32(frame + HeaderSize + payloadLength, Checksum32(frame + HeaderSize, payloadLength));
  return HeaderSize + payloadLength + 4;
}

}  // namespace

void Station::InitDictionary() {
  for (uint8_t index = 0; index < VariableCount; ++index) {
    const VariableDescriptor& entry = VariableDictionary[index];
    encodedSize_[index] = PayloadSizeOf(entry, Values);
    idIndexMap_[entry.Id] = index;
  }
  initialised_ = true;
}

uint16_t Station::EncodeValue(uint8_t index, uint8_t* payload) const {
  const VariableDescriptor& entry = VariableDictionary[index];
  uint8_t* out = payload + 1;
  switch (entry.Type) {
    case TypeStruct:
      *out++ = entry.MemberCount;
      for (uint8_t m = 0; m < entry.MemberCount; ++m) {
        *out++ = entry.Members[m].Type;
      }
      for (uint8_t m = 0; m < entry.MemberCount; ++m) {
        const MemberDescriptor& member = entry.Members[m];
        out += CopyValue(member.Type, out, FieldOf(Values, member.Offset));
      }
      break;
    case TypeArray: {
      const ArrayDescriptor& array = *entry.Array;
      *out++ = array.ElementType;
      std::memcpy(out, FieldOf(Values, array.Offset),
                  array.Count * TypeSize(array.ElementType, nullptr));
      break;
    }
    default:
      CopyValue(entry.Type, out, FieldOf(Values, entry.Offset));
      break;
  }
  return encodedSize_[index];
}

bool Station::DecodeValue(uint8_t index, const uint8_t* bytes, size_t available) {
  const VariableDescriptor& entry = VariableDictionary[index];
  switch (entry.Type) {
    case TypeStruct: {
      const size_t layout = 1U + entry.MemberCount;
      if (available < layout || bytes[0] != entry.MemberCount) {
        return false;
      }
      size_t needed = layout;
      for (uint8_t m = 0; m < entry.MemberCount; ++m) {
        if (bytes[1 + m] != entry.Members[m].Type) {
          return false;
        }
        needed += TypeSize(entry.Members[m].Type, nullptr);
      }
      if (available < needed) {
        return false;
      }
      const uint8_t* in = bytes + layout;
      for (uint8_t m = 0; m < entry.MemberCount; ++m) {
        const MemberDescriptor& member = entry.Members[m];
        in += CopyValue(member.Type, FieldOf(Values, member.Offset), in);
      }
      return true;
    }
    case TypeArray: {
      const ArrayDescriptor& array = *entry.Array;
      const size_t size = array.Count * TypeSize(array.ElementType, nullptr);
      if (available < 1 + size) {
        return false;
      }
      std::memcpy(FieldOf(Values, array.Offset), bytes + 1, size);
      return true;
    }
    case TypeText: {
      // The text ends at its NUL or at the end of the payload; the field keeps
      // at most 20 characters and always a NUL.
      char* field = reinterpret_cast<char*>(FieldOf(Values, entry.Offset));
      size_t n = 0;
      while (n < available && n < FirmwareTextCapacity - 1 && bytes[n] != 0) {
        field[n] = static_cast<char>(bytes[n]);
        ++n;
      }
      std::fill(field + n, field + FirmwareTextCapacity, '\0');
      return true;
    }
    default: {
      const uint16_t size = TypeSize(entry.Type, nullptr);
      if (available < size) {
        return false;
      }
      CopyValue(entry.Type, FieldOf(Values, entry.Offset), bytes);
      return true;
    }
  }
}

size_t Station::BuildReadRequest(FrameBuffer& frame, uint8_t index,
                                 const Address& destination) const {
  const VariableDescriptor& entry = VariableDictionary[index];
  WriteHeader(frame.data(), destination, HostAddress, OpRead, entry.Type, 1);
  frame[HeaderSize] = entry.Id;
  return SealPayload(frame.data(), 1);
}

size_t Station::BuildWriteRequest(FrameBuffer& frame, uint8_t index,
                                  const Address& destination) const {
  const VariableDescriptor& entry = VariableDictionary[index];
  uint16_t size = EncodeValue(index, frame.data() + HeaderSize);
  if (entry.Type == TypeText) {
    // A text travels with its current length, whatever the stored size says.
    size = PayloadSizeOf(entry, Values);
  }
  WriteHeader(frame.data(), destination, HostAddress, OpWrite, entry.Type, size);
  frame[HeaderSize] = entry.Id;
  return SealPayload(frame.data(), size);
}

int Station::ParseReply(FrameBuffer& frame, size_t length, std::optional<uint8_t> requestedIndex) {
  if (!CheckFrame(frame.data(), length, lastParse_)) {
    return 0;
  }
  if (lastParse_.Status != StatusOk) {
    return 0;
  }
  switch (lastParse_.Opcode) {
    case OpAck:
      return 1;
    case OpReadReply:
      return StoreReadReply(frame, requestedIndex);
    default:
      return 0;
  }
}

int Station::StoreReadReply(const FrameBuffer& frame, std::optional<uint8_t> requestedIndex) {
  const uint16_t l = ReadLe16(frame.data() + 8);
  if ((frame[7] & 1) == 0) {
    return 1;
  }
  if (l == 0 || l > MaxPayload) {
    return 0;
  }
  const uint8_t index = LookupIndex(frame[HeaderSize]);
  if (requestedIndex && *requestedIndex != index) {
    return 0;
  }
  const VariableDescriptor& entry = VariableDictionary[index];
  if (l != encodedSize_[index] && entry.Type != TypeText) {
    return 0;
  }
  lastStoredId_ = entry.Id;
  return DecodeValue(index, frame.data() + HeaderSize + 1, l - 1U) ? 1 : 0;
}

ReplyExpectation Station::ExpectReply(uint8_t index, bool write) const {
  ReplyExpectation e;
  e.RequestOpcode = write ? OpWrite : OpRead;
  e.ValueLength = encodedSize_[index];
  e.AnyValueLength = VariableDictionary[index].Type == TypeText;
  e.StationAddress = OwnAddressOnWire();
  return e;
}

int Station::HandleRequest(FrameBuffer& frame, size_t length) {
  if (!CheckFrame(frame.data(), length, lastParse_)) {
    return 0;
  }
  switch (lastParse_.Status) {
    case StatusOk:
      if (lastParse_.Opcode == OpPing) {
        BuildReply(frame, OpAck, 0, 0);
      } else if (lastParse_.Opcode == OpRead) {
        AnswerRead(frame);
      } else if (lastParse_.Opcode == OpWrite) {
        AnswerWrite(frame);
      }
      return 1;
    case StatusChecksum:
      BuildError(frame, ErrChecksum);
      return 1;
    default:
      BuildError(frame, ErrLength);
      return 1;
  }
}

void Station::AnswerRead(FrameBuffer& frame) {
  const uint8_t typeByte = frame[7];
  if (lastParse_.PayloadLength == 0) {
    BuildError(frame, ErrRefused);
    return;
  }
  const uint8_t index = LookupIndex(frame[HeaderSize]);
  const VariableDescriptor& entry = VariableDictionary[index];
  if ((typeByte & 1) == 0 || (entry.Access & AccessRead) == 0) {
    BuildError(frame, ErrRefused);
    return;
  }
  const uint16_t size = EncodeValue(index, frame.data() + HeaderSize);
  BuildReply(frame, OpReadReply, typeByte, size);
}

void Station::AnswerWrite(FrameBuffer& frame) {
  const uint8_t typeByte = frame[7];
  const uint16_t l = lastParse_.PayloadLength;
  if (l == 0) {
    BuildError(frame, ErrLength);
    return;
  }
  const uint8_t index = LookupIndex(frame[HeaderSize]);
  const VariableDescriptor& entry = VariableDictionary[index];
  if ((typeByte & 1) == 0 || (entry.Access & AccessWrite) == 0) {
    BuildError(frame, ErrRefused);
    return;
  }
  if (l != encodedSize_[index]) {
    BuildError(frame, ErrLength);
    return;
  }
  lastStoredId_ = entry.Id;
  if (DecodeValue(index, frame.data() + HeaderSize + 1, l - 1U)) {
    storedPending_ = true;
    BuildReply(frame, OpAck, typeByte, 0);
  } else {
    BuildError(frame, ErrRefused);
  }
}

void Station::BuildReply(FrameBuffer& frame, uint8_t opcode, uint8_t typeByte,
                         uint16_t payloadLength) {
  WriteHeader(frame.data(), HostAddress, OwnAddressOnWire(), opcode, typeByte, payloadLength);
  const size_t length = SealPayload(frame.data(), payloadLength);
  if (OnFrameReady) {
    OnFrameReady(frame.data(), length);
  }
  // Only a reply that answers an accepted write reports a stored variable, so
  // a command is acted on once, not again at every later reply.
  if (storedPending_ && OnVariableStored) {
    OnVariableStored(lastStoredId_);
  }
  storedPending_ = false;
}

void Station::BuildError(FrameBuffer& frame, uint8_t code) {
  frame[HeaderSize] = code;
  BuildReply(frame, OpError, 0, 1);
}

Address Station::OwnAddressOnWire() const {
  Address wire{};
  CopyValue(TypeAddr24, wire.data(), Values.StationAddress.data());
  return wire;
}

void Station::SetOwnAddress(const Address& wire) {
  CopyValue(TypeAddr24, Values.StationAddress.data(), wire.data());
}

}  // namespace vantor
