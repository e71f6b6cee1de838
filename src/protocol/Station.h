#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "Dictionary.h"
#include "Frame.h"
#include "ReplyReader.h"
#include "ValueStorage.h"

namespace vantor {

// One end of the protocol: a ValueStorage with the dictionary state that goes
// with it (encoded sizes, id map), the requesting side's frame builders and
// reply checks, and the answering side's rules. The program owns one; every
// virtual instrument owns another. No I/O happens here: built frames are
// returned as lengths, answers go out through OnFrameReady.
class Station {
 public:
  ValueStorage Values;

  // Fires when a reply is complete (answering side).
  std::function<void(const uint8_t* frame, size_t length)> OnFrameReady;
  // Fires after OnFrameReady when the reply acknowledges a stored write, with
  // the id of that variable.
  std::function<void(uint8_t id)> OnVariableStored;

  void InitDictionary();
  bool Initialised() const { return initialised_; }
  uint8_t LookupIndex(uint8_t id) const { return idIndexMap_[id]; }
  uint16_t EncodedSize(uint8_t index) const { return encodedSize_[index]; }

  // Writes the value of entry `index` from offset 1 of `payload` and returns
  // the entry's encoded size. `payload` must have room for the value.
  uint16_t EncodeValue(uint8_t index, uint8_t* payload) const;
  // `bytes` is the payload from offset 1, `available` bytes long. Stores the
  // value and returns true, or returns false (and stores nothing) when the
  // bytes do not fit the entry's layout.
  bool DecodeValue(uint8_t index, const uint8_t* bytes, size_t available);

  // Requesting side. Both return the frame length; the frame is in `frame`.
  size_t BuildReadRequest(FrameBuffer& frame, uint8_t index, const Address& destination) const;
  // Encodes the current value, then completes the write request.
  size_t BuildWriteRequest(FrameBuffer& frame, uint8_t index, const Address& destination) const;
  // Checks a reply of `length` bytes and acts on it: 1 success, 0 failure. When
  // `requestedIndex` is given, a read reply naming another variable fails and
  // stores nothing.
  int ParseReply(FrameBuffer& frame, size_t length,
                 std::optional<uint8_t> requestedIndex = std::nullopt);
  int StoreReadReply(const FrameBuffer& frame,
                     std::optional<uint8_t> requestedIndex = std::nullopt);
  // What a reply to a read (or write) of entry `index` can look like.
  ReplyExpectation ExpectReply(uint8_t index, bool write) const;

  // Answering side.
  int HandleRequest(FrameBuffer& frame, size_t length);
  void AnswerRead(FrameBuffer& frame);
  void AnswerWrite(FrameBuffer& frame);
  void BuildReply(FrameBuffer& frame, uint8_t opcode, uint8_t typeByte, uint16_t payloadLength);
  // An OpError reply carrying `code`.
  void BuildError(FrameBuffer& frame, uint8_t code);

  // Variable 9 as it travels on the wire (most significant byte first).
  Address OwnAddressOnWire() const;
  void SetOwnAddress(const Address& wire);

  const ParseResult& LastParse() const { return lastParse_; }
  uint8_t LastStoredId() const { return lastStoredId_; }

 private:
  std::array<uint8_t, 256> idIndexMap_{};
  std::array<uint16_t, VariableCount> encodedSize_{};
  bool initialised_ = false;
  ParseResult lastParse_;
  uint8_t lastStoredId_ = 0;
  bool storedPending_ = false;
};

}  // namespace vantor
