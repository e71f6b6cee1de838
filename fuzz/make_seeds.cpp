// Writes the seed inputs of every fuzz target into <dir>/<kind>/, the
// protocol's made by the protocol code itself: for every variable a read
// request and its reply, a write request and its acknowledgement or error,
// the error replies, and replies cut short, garbled or behind stray bytes.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "Dictionary.h"
#include "Station.h"

using namespace vantor;
using Bytes = std::vector<uint8_t>;

namespace {

std::filesystem::path root;

void Save(const char* kind, const std::string& name, const Bytes& bytes) {
  const std::filesystem::path dir = root / kind;
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / name, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void Save(const char* kind, const std::string& name, const std::string& text) {
  Save(kind, name, Bytes(text.begin(), text.end()));
}

Bytes Frame(const FrameBuffer& frame, size_t length) {
  return Bytes(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(length));
}

// The instrument's answer to a request, empty when it gives none.
Bytes Answer(Station& device, const Bytes& request) {
  static FrameBuffer frame;
  Bytes reply;
  device.OnFrameReady = [&reply](const uint8_t* bytes, size_t n) {
    reply.assign(bytes, bytes + n);
  };
  std::memcpy(frame.data(), request.data(), request.size());
  device.HandleRequest(frame, request.size());
  return reply;
}

void ProtocolSeeds() {
  Station host;
  host.InitDictionary();
  Station device;
  device.SetOwnAddress(DefaultDeviceAddress);
  device.InitDictionary();
  std::strcpy(device.Values.Firmware.data(), "Seed 1.0");
  for (size_t i = 0; i < device.Values.Screen.size(); ++i) {
    device.Values.Screen[i] = static_cast<uint8_t>(i * 37);
  }
  device.Values.Archive = {0.125f, 4, {0x59, 0x2A, 0x05, 0x43}};

  FrameBuffer frame{};
  for (uint8_t index = 0; index < VariableCount; ++index) {
    const std::string id = std::to_string(VariableDictionary[index].Id);
    const Bytes read = Frame(frame, host.BuildReadRequest(frame, index, DefaultDeviceAddress));
    Save("protocol", "read_request_" + id, read);
    const Bytes reply = Answer(device, read);
    Save("protocol", "read_reply_" + id, reply);
    if (reply.size() > HeaderSize + 4) {
      Save("protocol", "cut_reply_" + id + "_header",
           Bytes(reply.begin(), reply.begin() + HeaderSize));
      Save("protocol", "cut_reply_" + id + "_half",
           Bytes(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(reply.size() / 2)));
      Bytes garbled = reply;
      garbled[HeaderSize + (reply.size() - HeaderSize) / 2] ^= 0x5A;
      Save("protocol", "garbled_payload_" + id, garbled);
      garbled = reply;
      garbled[5] ^= 0x01;
      Save("protocol", "garbled_header_" + id, garbled);
      Bytes behind{0x00, 0xFF};
      behind.insert(behind.end(), reply.begin(), reply.end());
      Save("protocol", "stray_bytes_reply_" + id, behind);
    }
    const Bytes write = Frame(frame, host.BuildWriteRequest(frame, index, DefaultDeviceAddress));
    Save("protocol", "write_request_" + id, write);
    Save("protocol", "write_reply_" + id, Answer(device, write));  // ack or refusal
  }
  // The instrument's error replies: payload checksum, length, refusal.
  Bytes bad = Frame(frame, host.BuildWriteRequest(frame, IndexSettings, DefaultDeviceAddress));
  bad[bad.size() - 1] ^= 0xFF;
  Save("protocol", "error_checksum", Answer(device, bad));
  Bytes shortWrite = Frame(frame, host.BuildWriteRequest(frame, IndexClock, DefaultDeviceAddress));
  Save("protocol", "error_length_request", shortWrite);
  Save("protocol", "error_refused",
       Answer(device,
              Frame(frame, host.BuildWriteRequest(frame, IndexFirmware, DefaultDeviceAddress))));
  Save("protocol", "empty", Bytes{});
}

void TextSeeds() {
  // INI: section, key and value, each ended by a NUL, then the file.
  const std::string pair = std::string("Common") + '\0' + "Language" + '\0' + "1" + '\0';
  Save("ini", "crlf", pair + "[Common]\r\nLanguage=0\r\n");
  Save("ini", "lf_other_sections",
       pair + "; hand\n[Window]\nLeft=10\n\n[Common]\nX = y \n[Tail]\nz=1");
  Save("ini", "bom_quoted",
       pair + "\xEF\xBB\xBF[COMMON]\r\nLANGUAGE = \"1\" \r\n[Common]\r\nLanguage=0\r\n");
  Save("ini", "no_section", pair + "Language=1\r\n# comment\r\n[Other");
  Save("ini", "empty", pair);
  Save("ini", "hex",
       std::string("A") + '\0' + "b" + '\0' + "$FFFFFFFF" + '\0' + "[a]\r\nB=0x1F\r\n");

  // Numbers: one byte choosing the separator, then the text.
  int n = 0;
  for (const char* text : {"123", " -42 ", "$1F", "0x7fffffff", "x10", "2147483648", "+0", "1,5",
                           "-1.25E-3", "1.2345679E8", "nan", "1e400", "$\xC5\xA1", ""}) {
    Save("number", "dot_" + std::to_string(n), std::string(".") + text);
    Save("number", "comma_" + std::to_string(n), std::string(",") + text);
    ++n;
  }

  // Windows-1251 bytes, and UTF-8 text to encode.
  Save("windows1251", "firmware", std::string("\xC4\xC7-1 \xE2.2.14\0tail", 16));
  Bytes all(256);
  for (int i = 0; i < 256; ++i) {
    all[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
  }
  Save("windows1251", "every_byte", all);
  Save("windows1251", "utf8", std::string("\xD0\x94\xD0\x97-1 \xE2\x80\x94 \xF0\x9F\x98\x80"));

  // Port names: two names separated by a NUL.
  const std::pair<const char*, const char*> names[] = {
      {"COM1", "COM254"},      {"COM0", "COM255"},   {"COM007", "com7"},
      {"ttyUSB2", "ttyUSB10"}, {"ttyS0", "ttyACM0"}, {"rfcomm1", "ttyUSB"}};
  for (const auto& [a, b] : names) {
    Save("portmap", a, std::string(a) + '\0' + b);
  }

  // Archive: 12-byte slots; a page of records, a separator, another page.
  Bytes archive;
  const auto record = [&archive](float value, uint8_t flags, std::array<uint8_t, 4> date) {
    Bytes slot(12, 0);
    std::memcpy(slot.data(), &value, 4);
    slot[4] = flags;
    std::memcpy(slot.data() + 5, date.data(), 4);
    archive.insert(archive.end(), slot.begin(), slot.end());
  };
  record(0.12f, 0, {0x59, 0x2A, 0x05, 0x43});
  record(1234.5f, 4, {0xD9, 0xF7, 0xFB, 0xFB});
  record(0, 0, {0, 0, 0, 0});  // a separator
  record(5e-7f, 1, {0x19, 0x00, 0x00, 0x40});
  Save("archive", "pages", archive);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
    return 2;
  }
  root = argv[1];
  ProtocolSeeds();
  TextSeeds();
  return 0;
}
