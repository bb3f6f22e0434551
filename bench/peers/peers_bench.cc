// The standard codec, the record writer and the upload body beside peer
// libraries on the same data (the shared workloads A to E): msgpack-c for
// the codec, RapidJSON for the record text, zlib alone for the body, and
// memcpy as the floor of bulk decoding. Every workload's data is checked
// before anything is timed; the run ends with a table of project time over
// peer time (CPU time, medians of the repetitions).
//
//   taskset -c 1 peers_bench [--benchmark_repetitions=5]

#include <benchmark/benchmark.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <msgpack.hpp>
#include <string>
#include <vector>

#include "analytics/sdk/event_assembly.h"
#include "analytics/sdk/properties_node.h"
#include "analytics/sdk/upload/batch_encoding.h"
#include "embedding/standard_codec.h"
#include "workloads.h"

namespace {

namespace pw = peers_workloads;
using flutter::EncodableMap;
using flutter::EncodableValue;

// ---------------------------------------------------------------- A: call

EncodableValue ToEncodable(const pw::Value& value) {
  switch (value.kind) {
    case pw::Kind::Str:
      return EncodableValue(value.s);
    case pw::Kind::Int64:
      return EncodableValue(value.i);
    case pw::Kind::Double:
      return EncodableValue(value.d);
    case pw::Kind::Bool:
      return EncodableValue(value.b);
  }
  return EncodableValue();
}

std::unique_ptr<flutter::MethodCall> BuildCall() {
  EncodableMap properties;
  for (const pw::Entry& entry : pw::kCallProperties) {
    properties.emplace(EncodableValue(entry.key), ToEncodable(entry.value));
  }
  EncodableMap arguments;
  arguments.emplace(EncodableValue(pw::kCallArgEventNameKey),
                    EncodableValue(pw::kCallArgEventName));
  arguments.emplace(EncodableValue(pw::kCallArgPropertiesKey),
                    EncodableValue(std::move(properties)));
  return std::make_unique<flutter::MethodCall>(
      pw::kCallMethod, std::make_unique<EncodableValue>(std::move(arguments)));
}

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::GetInstance();
}

template <typename Stream>
void PackCall(msgpack::packer<Stream>* packer) {
  packer->pack_array(2);
  packer->pack(pw::kCallMethod);
  packer->pack_map(2);
  packer->pack(pw::kCallArgEventNameKey);
  packer->pack(pw::kCallArgEventName);
  packer->pack(pw::kCallArgPropertiesKey);
  packer->pack_map(pw::kCallPropertyCount);
  for (const pw::Entry& entry : pw::kCallProperties) {
    packer->pack(entry.key);
    switch (entry.value.kind) {
      case pw::Kind::Str:
        packer->pack(entry.value.s);
        break;
      case pw::Kind::Int64:
        packer->pack(entry.value.i);
        break;
      case pw::Kind::Double:
        packer->pack_double(entry.value.d);
        break;
      case pw::Kind::Bool:
        packer->pack(entry.value.b);
        break;
    }
  }
}

msgpack::sbuffer PackedCall() {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(buffer);
  PackCall(&packer);
  return buffer;
}

void BM_A_BuildEncode_Project(benchmark::State& state) {
  for (auto _ : state) {
    auto bytes = Codec().EncodeMethodCall(*BuildCall());
    benchmark::DoNotOptimize(bytes->data());
  }
}

void BM_A_BuildEncode_Msgpack(benchmark::State& state) {
  for (auto _ : state) {
    msgpack::sbuffer buffer = PackedCall();
    benchmark::DoNotOptimize(buffer.data());
  }
}

void BM_A_Encode_Project(benchmark::State& state) {
  const auto call = BuildCall();
  const EncodableValue name(call->method_name());
  const auto& serializer = flutter::StandardCodecSerializer::GetInstance();
  std::vector<uint8_t> buffer;
  for (auto _ : state) {
    buffer.clear();
    flutter::ByteBufferStreamWriter writer(&buffer);
    serializer.WriteValue(name, &writer);
    serializer.WriteValue(*call->arguments(), &writer);
    benchmark::DoNotOptimize(buffer.data());
  }
}

void BM_A_Encode_Msgpack(benchmark::State& state) {
  msgpack::sbuffer buffer;
  for (auto _ : state) {
    buffer.clear();
    msgpack::packer<msgpack::sbuffer> packer(buffer);
    PackCall(&packer);
    benchmark::DoNotOptimize(buffer.data());
  }
}

void BM_A_Decode_Project(benchmark::State& state) {
  const auto bytes = Codec().EncodeMethodCall(*BuildCall());
  for (auto _ : state) {
    auto call = Codec().DecodeMethodCall(bytes->data(), bytes->size());
    benchmark::DoNotOptimize(call.get());
  }
}

void BM_A_Decode_Msgpack(benchmark::State& state) {
  const msgpack::sbuffer packed = PackedCall();
  for (auto _ : state) {
    msgpack::object_handle handle =
        msgpack::unpack(packed.data(), packed.size());
    benchmark::DoNotOptimize(handle.get().type);
  }
}

bool CheckCall() {
  const auto call = BuildCall();
  const auto bytes = Codec().EncodeMethodCall(*call);
  const auto decoded = Codec().DecodeMethodCall(bytes->data(), bytes->size());
  if (decoded == nullptr || decoded->method_name() != pw::kCallMethod ||
      *decoded->arguments() != *call->arguments() ||
      *Codec().EncodeMethodCall(*decoded) != *bytes) {
    return false;
  }
  const msgpack::sbuffer packed = PackedCall();
  msgpack::object_handle handle = msgpack::unpack(packed.data(), packed.size());
  msgpack::sbuffer repacked;
  msgpack::pack(repacked, handle.get());
  return repacked.size() == packed.size() &&
         std::memcmp(repacked.data(), packed.data(), packed.size()) == 0;
}

// ------------------------------------------------ B, C: bulk typed lists

template <typename T>
std::vector<uint8_t> EncodedList(const std::vector<T>& list) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  flutter::StandardCodecSerializer::GetInstance().WriteValue(
      EncodableValue(list), &writer);
  return bytes;
}

EncodableValue DecodeValue(const std::vector<uint8_t>& bytes) {
  flutter::ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return flutter::StandardCodecSerializer::GetInstance().ReadValue(&reader);
}

template <typename T>
void DecodeListBench(benchmark::State& state, const std::vector<T>& list) {
  const std::vector<uint8_t> bytes = EncodedList(list);
  for (auto _ : state) {
    EncodableValue value = DecodeValue(bytes);
    benchmark::DoNotOptimize(std::get<std::vector<T>>(value).data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(bytes.size()));
}

// The floor: a fresh, uninitialised block and one copy into it.
template <typename T>
void MemcpyBench(benchmark::State& state, const std::vector<T>& list) {
  for (auto _ : state) {
    std::unique_ptr<T[]> copy(new T[list.size()]);
    std::memcpy(copy.get(), list.data(), list.size() * sizeof(T));
    benchmark::DoNotOptimize(copy.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(list.size() * sizeof(T)));
}

const std::vector<uint8_t>& Blob() {
  static const std::vector<uint8_t> blob = pw::make_blob();
  return blob;
}

const std::vector<double>& Doubles() {
  static const std::vector<double> doubles = pw::make_doubles();
  return doubles;
}

void BM_B_Decode_Project(benchmark::State& state) {
  DecodeListBench(state, Blob());
}
void BM_B_Decode_Memcpy(benchmark::State& state) { MemcpyBench(state, Blob()); }
void BM_C_Decode_Project(benchmark::State& state) {
  DecodeListBench(state, Doubles());
}
void BM_C_Decode_Memcpy(benchmark::State& state) {
  MemcpyBench(state, Doubles());
}

template <typename T>
bool CheckList(const std::vector<T>& list) {
  const EncodableValue value = DecodeValue(EncodedList(list));
  const auto* read = std::get_if<std::vector<T>>(&value);
  return read != nullptr && *read == list;
}

// ---------------------------------------------------------- D: record

template <typename Node>
void SetEntry(Node* node, const pw::Entry& entry) {
  switch (entry.value.kind) {
    case pw::Kind::Str:
      node->SetString(entry.key, entry.value.s);
      break;
    case pw::Kind::Int64:
      node->SetInt(entry.key, entry.value.i);
      break;
    case pw::Kind::Double:
      node->SetNumber(entry.key, entry.value.d);
      break;
    case pw::Kind::Bool:
      node->SetBool(entry.key, entry.value.b);
      break;
  }
}

// The record put together as event assembly does it.
analytics::utils::ObjectNode BuildRecord() {
  analytics::PropertiesNode properties;
  for (const pw::Entry& entry : pw::kRecordProperties) {
    SetEntry(&properties, entry);
  }
  analytics::utils::ObjectNode record;
  record.SetString("type", pw::kRecordType);
  record.SetInt("time", pw::kRecordTime);
  record.SetString("distinct_id", pw::kRecordDistinctId);
  record.SetObject("properties", std::move(properties));
  record.SetObject("lib", analytics::MakeLibObject());
  record.SetInt("_track_id", pw::kRecordTrackId);
  record.SetString("event", pw::kRecordEvent);
  return record;
}

void WriteEntries(rapidjson::Writer<rapidjson::StringBuffer>* writer,
                  const pw::Entry* entries, size_t count) {
  writer->StartObject();
  for (size_t i = 0; i < count; ++i) {
    const pw::Value& value = entries[i].value;
    writer->Key(entries[i].key);
    switch (value.kind) {
      case pw::Kind::Str:
        writer->String(value.s);
        break;
      case pw::Kind::Int64:
        writer->Int64(value.i);
        break;
      case pw::Kind::Double:
        writer->Double(value.d);
        break;
      case pw::Kind::Bool:
        writer->Bool(value.b);
        break;
    }
  }
  writer->EndObject();
}

// The record written by RapidJSON straight from the workload's values.
void WriteRapidRecord(rapidjson::StringBuffer* buffer) {
  rapidjson::Writer<rapidjson::StringBuffer> writer(*buffer);
  writer.StartObject();
  writer.Key("_track_id");
  writer.Int64(pw::kRecordTrackId);
  writer.Key("distinct_id");
  writer.String(pw::kRecordDistinctId);
  writer.Key("event");
  writer.String(pw::kRecordEvent);
  writer.Key("lib");
  WriteEntries(&writer, pw::kRecordLib, pw::kRecordLibCount);
  writer.Key("properties");
  WriteEntries(&writer, pw::kRecordProperties, pw::kRecordPropertyCount);
  writer.Key("time");
  writer.Int64(pw::kRecordTime);
  writer.Key("type");
  writer.String(pw::kRecordType);
  writer.EndObject();
}

std::string RapidRecord() {
  rapidjson::StringBuffer buffer;
  WriteRapidRecord(&buffer);
  return std::string(buffer.GetString(), buffer.GetSize());
}

void BM_D_BuildWrite_Project(benchmark::State& state) {
  for (auto _ : state) {
    std::string text =
        analytics::utils::ObjectNode::ToJsonString(BuildRecord());
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_D_Write_Project(benchmark::State& state) {
  const analytics::utils::ObjectNode record = BuildRecord();
  for (auto _ : state) {
    std::string text = analytics::utils::ObjectNode::ToJsonString(record);
    benchmark::DoNotOptimize(text.data());
  }
}

void BM_D_Write_RapidJson(benchmark::State& state) {
  for (auto _ : state) {
    rapidjson::StringBuffer buffer;
    WriteRapidRecord(&buffer);
    benchmark::DoNotOptimize(buffer.GetString());
  }
}

bool CheckRecord() {
  // RapidJSON writes the shortest digits; that is its only difference.
  std::string shortest = pw::kRecordDText15g;
  const size_t at = shortest.find(pw::kRatioText15g);
  shortest.replace(at, std::strlen(pw::kRatioText15g), pw::kRatioTextShortest);
  return analytics::utils::ObjectNode::ToJsonString(BuildRecord()) ==
             pw::kRecordDText15g &&
         RapidRecord() == shortest;
}

// ----------------------------------------------------------- E: body

// zlib alone, as the body encoder configures it.
std::string DeflateAlone(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, pw::kDeflateLevel, Z_DEFLATED, pw::kDeflateWindowBits,
               pw::kDeflateMemLevel, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, static_cast<uLong>(text.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

const std::string& BatchText() {
  static const std::string text = pw::make_batch_text();
  return text;
}

void BM_E_Body_Project(benchmark::State& state) {
  for (auto _ : state) {
    auto body = analytics::EncodeBatchBody(BatchText());
    benchmark::DoNotOptimize(body->data());
  }
}

void BM_E_Body_Zlib(benchmark::State& state) {
  for (auto _ : state) {
    std::string compressed = DeflateAlone(BatchText());
    benchmark::DoNotOptimize(compressed.data());
  }
}

// Undoes the body's percent-encoding and base64.
std::string UnwrapBody(const std::string& body) {
  const std::string head = "data_list=";
  const std::string tail = "&gzip=1";
  std::string base64;
  for (size_t i = head.size(); i + tail.size() < body.size(); ++i) {
    if (body[i] == '%') {
      base64 +=
          static_cast<char>(std::stoi(body.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      base64 += body[i];
    }
  }
  static const std::string alphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;
  for (char c : base64) {
    if (c == '=') break;
    bits = (bits << 6) | static_cast<uint32_t>(alphabet.find(c));
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>((bits >> count) & 0xFF);
    }
  }
  return bytes;
}

std::string Inflate(const std::string& compressed) {
  z_stream stream{};
  inflateInit2(&stream, pw::kDeflateWindowBits);
  std::string out(1 << 20, '\0');
  stream.next_in =
      reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  const int code = inflate(&stream, Z_FINISH);
  out.resize(code == Z_STREAM_END ? stream.total_out : 0);
  inflateEnd(&stream);
  return out;
}

bool CheckBody() {
  const auto body = analytics::EncodeBatchBody(BatchText());
  return body && Inflate(UnwrapBody(*body)) == BatchText() &&
         Inflate(DeflateAlone(BatchText())) == BatchText();
}

// ------------------------------------------------------ the ratio table

struct Row {
  const char* what;
  const char* project;
  const char* peer;
  double goal;
};

const Row kRows[] = {
    {"A build the call and encode it", "BM_A_BuildEncode_Project",
     "BM_A_BuildEncode_Msgpack", 3.0},
    {"A encode a prebuilt call, reused buffer", "BM_A_Encode_Project",
     "BM_A_Encode_Msgpack", 1.5},
    {"A decode the call", "BM_A_Decode_Project", "BM_A_Decode_Msgpack", 1.5},
    {"B decode 1 MiB of bytes", "BM_B_Decode_Project", "BM_B_Decode_Memcpy",
     1.1},
    {"C decode 100,000 doubles", "BM_C_Decode_Project", "BM_C_Decode_Memcpy",
     1.1},
    {"D build the record and write its text", "BM_D_BuildWrite_Project",
     "BM_D_Write_RapidJson", 2.5},
    {"D write the text of a built record", "BM_D_Write_Project",
     "BM_D_Write_RapidJson", 1.0},
    {"E batch to upload body", "BM_E_Body_Project", "BM_E_Body_Zlib", 1.05},
};

// Keeps the CPU time of each benchmark: the median when repeated.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const bool median =
          run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      const bool single =
          run.run_type == Run::RT_Iteration && run.repetitions <= 1;
      if (median || single) {
        cpu_ns_[run.run_name.function_name] =
            run.GetAdjustedCPUTime() /
            benchmark::GetTimeUnitMultiplier(run.time_unit) * 1e9;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void PrintTable() const {
    std::printf("\n%-42s %12s %12s %7s %6s\n", "workload", "project ns",
                "peer ns", "ratio", "goal");
    for (const Row& row : kRows) {
      const auto project = cpu_ns_.find(row.project);
      const auto peer = cpu_ns_.find(row.peer);
      if (project == cpu_ns_.end() || peer == cpu_ns_.end()) continue;
      const double ratio = project->second / peer->second;
      std::printf("%-42s %12.1f %12.1f %6.2fx %5.2fx%s\n", row.what,
                  project->second, peer->second, ratio, row.goal,
                  ratio <= row.goal ? "" : "  over");
    }
  }

 private:
  std::map<std::string, double> cpu_ns_;
};

}  // namespace

BENCHMARK(BM_A_BuildEncode_Project);
BENCHMARK(BM_A_BuildEncode_Msgpack);
BENCHMARK(BM_A_Encode_Project);
BENCHMARK(BM_A_Encode_Msgpack);
BENCHMARK(BM_A_Decode_Project);
BENCHMARK(BM_A_Decode_Msgpack);
BENCHMARK(BM_B_Decode_Project)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_B_Decode_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_C_Decode_Project)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_C_Decode_Memcpy)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_D_BuildWrite_Project);
BENCHMARK(BM_D_Write_Project);
BENCHMARK(BM_D_Write_RapidJson);
BENCHMARK(BM_E_Body_Project)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_E_Body_Zlib)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  const struct {
    const char* name;
    bool (*check)();
  } checks[] = {{"A round trip", &CheckCall},
                {"B round trip", [] { return CheckList(Blob()); }},
                {"C round trip", [] { return CheckList(Doubles()); }},
                {"D text", &CheckRecord},
                {"E body inflates back", &CheckBody}};
  for (const auto& check : checks) {
    if (!check.check()) {
      std::fprintf(stderr, "data check failed: %s\n", check.name);
      return 1;
    }
  }
  // Five repetitions unless asked otherwise, so that the table shows
  // medians.
  std::vector<char*> args(argv, argv + argc);
  std::string repetitions = "--benchmark_repetitions=5";
  bool has_repetitions = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--benchmark_repetitions", 23) == 0) {
      has_repetitions = true;
    }
  }
  if (!has_repetitions) args.push_back(&repetitions[0]);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintTable();
  benchmark::Shutdown();
  return 0;
}
