// The network table, the information-file and data-file readers, and the atomic data-file
// writer. Every reader is bounded by the real size of its input and stages into a new table.
#include "analyzer/rtnn/rtnn_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "analyzer/dti/mpg_setting.h"

namespace {

// No network set comes near this; a larger file is not one of ours.
constexpr size_t kMaxFileBytes = size_t(1) << 30;

enum class ReadResult { Ok, NotFound, TooLarge, Failed };

ReadResult read_whole_file(const std::string& path, std::string* out) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return ReadResult::NotFound;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> guard(f, std::fclose);
  std::string data;
  char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
    if (data.size() + got > kMaxFileBytes) return ReadResult::TooLarge;
    data.append(buffer, got);
  }
  if (std::ferror(f)) return ReadResult::Failed;
  *out = std::move(data);
  return ReadResult::Ok;
}

std::string folder_of(const std::string& path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Whitespace-separated tokens of a text held in memory.
class Tokens {
 public:
  explicit Tokens(std::string_view text) : text_(text) {}
  bool next(std::string_view* token) {
    while (pos_ < text_.size() && is_space(text_[pos_])) ++pos_;
    if (pos_ >= text_.size()) return false;
    const size_t begin = pos_;
    while (pos_ < text_.size() && !is_space(text_[pos_])) ++pos_;
    *token = text_.substr(begin, pos_ - begin);
    return true;
  }
  bool next_int(int32_t* value) {
    std::string_view t;
    if (!next(&t)) return false;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *value);
    return ec == std::errc() && end == t.data() + t.size();
  }
  bool next_float(float* value) {
    std::string_view t;
    if (!next(&t)) return false;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), *value);
    return ec == std::errc() && end == t.data() + t.size() && std::isfinite(*value);
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
};

// Exactly `count` finite values, each optionally followed by a comma; whitespace anywhere
// between. false with the reason otherwise.
bool parse_csv_values(std::string_view text, size_t count, std::vector<float>* values,
                      std::string* reason) {
  values->clear();
  size_t pos = 0;
  auto skip = [&] {
    while (pos < text.size() && is_space(text[pos])) ++pos;
  };
  skip();
  while (pos < text.size()) {
    float v;
    const char* begin = text.data() + pos;
    const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), v);
    if (ec != std::errc() || !std::isfinite(v)) {
      *reason = "unreadable value " + std::to_string(values->size() + 1);
      return false;
    }
    if (values->size() == count) {
      *reason = "more than " + std::to_string(count) + " values";
      return false;
    }
    values->push_back(v);
    pos = static_cast<size_t>(end - text.data());
    skip();
    if (pos < text.size() && text[pos] == ',') {
      ++pos;
      skip();
    }
  }
  if (values->size() != count) {
    *reason = std::to_string(values->size()) + " of " + std::to_string(count) + " values";
    return false;
  }
  return true;
}

bool load_csv(const std::string& path, size_t count, std::vector<float>* values) {
  std::string text;
  const ReadResult r = read_whole_file(path, &text);
  if (r != ReadResult::Ok) {
    std::fprintf(stderr, "Invalid File: ZTRrtnn_LoadValuesFromCSV: %s\n", path.c_str());
    return false;
  }
  std::string reason;
  if (!parse_csv_values(text, count, values, &reason)) {
    std::fprintf(stderr, "Invalid File: ZTRrtnn_LoadValuesFromCSV: %s (%s)\n", path.c_str(),
                 reason.c_str());
    return false;
  }
  return true;
}

// Checks what the evaluations divide by or compare against; the reason when refused.
bool output_parameters_usable(const RunTimeNeuralNetwork& n, std::string* reason) {
  for (int k = 0; k < n.output_size; ++k) {
    if (!std::isfinite(n.output_scale[k]) || n.output_scale[k] == 0.0f ||
        !std::isfinite(n.output_offset[k]) || std::isnan(n.output_lower[k]) ||
        std::isnan(n.output_upper[k])) {
      *reason = "output " + std::to_string(k) + " has a zero or unusable scale or offset";
      return false;
    }
  }
  return true;
}

bool input_mpg_usable(const RtnnInputMpg& mpg, std::string* reason) {
  if (mpg.total < 1 || mpg.total > ZTR_RTNN_MAX_MPG_CHANNELS || mpg.b0 < 0 || mpg.b0 > mpg.total) {
    *reason = "input MPG counts out of range";
    return false;
  }
  for (int i = 0; i < mpg.total; ++i) {
    if (!std::isfinite(mpg.b_value[i]) || !std::isfinite(mpg.direction[i][0]) ||
        !std::isfinite(mpg.direction[i][1]) || !std::isfinite(mpg.direction[i][2])) {
      *reason = "input MPG holds a value that is not a number";
      return false;
    }
  }
  return true;
}

// Bounded little-endian reader of a data file image: checks before every read and stays
// failed after the first failure.
class Cursor {
 public:
  Cursor(const unsigned char* bytes, size_t size) : bytes_(bytes), size_(size) {}
  bool ok() const { return ok_; }
  size_t remaining() const { return ok_ ? size_ - pos_ : 0; }
  bool take(void* out, size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return false;
    }
    std::memcpy(out, bytes_ + pos_, n);
    pos_ += n;
    return true;
  }
  bool i32(int32_t* v) { return take(v, 4); }
  bool f32(float* v) { return take(v, 4); }
  // A 32-byte text field; the terminator is forced, whatever the file holds.
  bool text32(std::string* out) {
    char field[ZTR_RTNN_NAME_BYTES];
    if (!take(field, sizeof field)) return false;
    field[sizeof field - 1] = '\0';
    *out = field;
    return true;
  }

 private:
  const unsigned char* bytes_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

void put_bytes(std::vector<unsigned char>* out, const void* p, size_t n) {
  const auto* b = static_cast<const unsigned char*>(p);
  out->insert(out->end(), b, b + n);
}
void put_i32(std::vector<unsigned char>* out, int32_t v) { put_bytes(out, &v, 4); }
void put_f32(std::vector<unsigned char>* out, float v) { put_bytes(out, &v, 4); }
void put_text32(std::vector<unsigned char>* out, const std::string& text) {
  char field[ZTR_RTNN_NAME_BYTES] = {};
  const std::string cut = rtnn_field_text(text);
  std::memcpy(field, cut.data(), cut.size());
  put_bytes(out, field, sizeof field);
}

bool read_layer_sizes(Tokens& t, int32_t* layers, int32_t sizes[ZTR_RTNN_MAX_LAYERS],
                      std::string* reason) {
  if (!t.next_int(layers)) {
    *reason = "layer count missing or unreadable";
    return false;
  }
  if (*layers < 1 || *layers > ZTR_RTNN_MAX_LAYERS) {
    *reason = "layer count " + std::to_string(*layers) + " (1 .. 100)";
    return false;
  }
  for (int l = 0; l < *layers; ++l) {
    if (!t.next_int(&sizes[l])) {
      *reason = "layer size missing or unreadable";
      return false;
    }
    if (sizes[l] < 1 || sizes[l] > ZTR_RTNN_MAX_LAYER_SIZE) {
      *reason = "layer size " + std::to_string(sizes[l]);
      return false;
    }
  }
  if (sizes[*layers - 1] > ZTR_RTNN_MAX_OUTPUTS) {
    *reason = std::to_string(sizes[*layers - 1]) + " outputs (at most 16)";
    return false;
  }
  if (sizes[0] > ZTR_RTNN_MAX_MPG_CHANNELS - 1) {
    *reason = "more inputs than an MPG setting has channels";
    return false;
  }
  return true;
}

std::unique_ptr<RtnnTable>& process_table() {
  static std::unique_ptr<RtnnTable> table = std::make_unique<RtnnTable>();
  return table;
}

}  // namespace

std::string rtnn_field_text(std::string text) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  if (text.size() > ZTR_RTNN_NAME_BYTES - 1) text.resize(ZTR_RTNN_NAME_BYTES - 1);
  return text;
}

int parse_rtnn_information_file(const std::string& path, RtnnTable* table) {
  std::string text;
  const ReadResult r = read_whole_file(path, &text);
  if (r == ReadResult::NotFound) {
    std::fprintf(stderr, "File Not Found: %s\n", path.c_str());
    return -1;
  }
  if (r != ReadResult::Ok) {
    std::fprintf(stderr, "Err: cannot read %s\n", path.c_str());
    return -1;
  }
  const size_t line1_end = text.find('\n');
  if (line1_end == std::string::npos ||
      std::string_view(text).substr(0, line1_end) != ZTR_RTNN_INFORMATION_HEADER) {
    std::fprintf(stderr, "Not RTNN File: %s\n", path.c_str());
    return -1;
  }
  size_t line2_end = text.find('\n', line1_end + 1);
  if (line2_end == std::string::npos) line2_end = text.size();
  RtnnTable staged;
  staged.set_id = rtnn_field_text(text.substr(line1_end + 1, line2_end - line1_end - 1));
  const std::string folder = folder_of(path);
  Tokens t(std::string_view(text).substr(std::min(line2_end + 1, text.size())));

  auto malformed = [&](const std::string& reason) {
    std::fprintf(stderr, "Err: broken RTNN information file %s: %s\n", path.c_str(), reason.c_str());
    return -1;
  };
  int32_t announced = 0;
  if (!t.next_int(&announced)) return malformed("network count missing or unreadable");
  if (announced < 1 || announced > ZTR_RTNN_MAX_NETWORKS) {
    return malformed("network count " + std::to_string(announced) + " (1 .. 64)");
  }
  std::vector<float> weights, biases, b_values(ZTR_RTNN_MAX_MPG_CHANNELS);
  std::vector<std::array<float, 3>> directions(ZTR_RTNN_MAX_MPG_CHANNELS);
  for (int n = 0; n < announced; ++n) {
    std::string_view token;
    if (!t.next(&token)) return malformed("network " + std::to_string(n + 1) + " missing");
    RtnnEntry entry;
    const std::string name = rtnn_field_text(std::string(token));
    int32_t layers = 0;
    int32_t sizes[ZTR_RTNN_MAX_LAYERS];
    int32_t codes[ZTR_RTNN_MAX_LAYERS] = {};
    std::string reason;
    if (!read_layer_sizes(t, &layers, sizes, &reason)) return malformed(name + ": " + reason);
    for (int l = 0; l + 1 < layers; ++l) {
      if (!t.next(&token)) return malformed(name + ": activation missing");
      codes[l] = rtnn_activation_code(std::string(token).c_str());
    }
    for (int k = 0; k < sizes[layers - 1]; ++k) {
      if (!t.next(&token)) return malformed(name + ": output name missing");
      entry.output_names.push_back(rtnn_field_text(std::string(token)));
    }
    entry.network.reset(ZTRrtnn_NewRunTimeNeuralNetwork(layers, sizes, codes));
    if (!entry.network) return malformed(name + ": the network cannot be created");
    RunTimeNeuralNetwork& net = *entry.network;
    std::memcpy(net.name, name.c_str(), name.size() + 1);
    bool usable = true;
    for (int l = 0; l + 1 < layers; ++l) {
      std::string_view weight_file, bias_file;
      if (!t.next(&weight_file) || !t.next(&bias_file)) return malformed(name + ": weight file names missing");
      const int32_t in = sizes[l], out = sizes[l + 1];
      if (usable && load_csv(folder + std::string(weight_file), size_t(in) * out, &weights) &&
          load_csv(folder + std::string(bias_file), size_t(out), &biases)) {
        // The file lists the weights input-major; the record holds one row per output.
        for (int o = 0; o < out; ++o) {
          for (int i = 0; i < in; ++i) net.weight[l]->element[o][i] = weights[size_t(i) * out + o];
          net.bias[l]->element[o] = biases[o];
        }
      } else {
        usable = false;
      }
    }
    for (int k = 0; k < net.output_size; ++k) {
      if (!t.next_float(&net.output_scale[k]) || !t.next_float(&net.output_offset[k]) ||
          !t.next_float(&net.output_lower[k]) || !t.next_float(&net.output_upper[k])) {
        return malformed(name + ": output parameters missing or unreadable");
      }
    }
    if (!t.next(&token)) return malformed(name + ": MPG file name missing");
    const std::string mpg_name(token);
    if (usable) {
      const std::string mpg_path = folder + mpg_name;
      int32_t total = 0, b0 = 0;
      if (read_mpg_text_file_to_arrays(mpg_path.c_str(), &total, &b0, b_values.data(),
                                       reinterpret_cast<float(*)[3]>(directions.data())) != 0) {
        std::fprintf(stderr, "File Not Found: %s\n", mpg_name.c_str());
        usable = false;
      } else {
        entry.input_mpg.total = total;
        entry.input_mpg.b0 = b0;
        entry.input_mpg.b_value.assign(b_values.begin(), b_values.begin() + total);
        entry.input_mpg.direction.assign(directions.begin(), directions.begin() + total);
      }
    }
    if (usable && (!output_parameters_usable(net, &reason) || !input_mpg_usable(entry.input_mpg, &reason))) {
      std::fprintf(stderr, "Err: network %s refused: %s\n", name.c_str(), reason.c_str());
      usable = false;
    }
    if (!usable) {
      std::fprintf(stderr, "Err: network %s not loaded\n", name.c_str());
      continue;
    }
    entry.state = -1;
    staged.entries.push_back(std::move(entry));
  }
  if (staged.entries.empty()) {
    std::fprintf(stderr, "Err: no usable network in %s\n", path.c_str());
    return -1;
  }
  *table = std::move(staged);
  return table->count();
}

int parse_rtnn_data(const unsigned char* bytes, size_t size, RtnnTable* table,
                    std::string* error) {
  Cursor c(bytes, size);
  char header[ZTR_RTNN_DATA_HEADER_BYTES];
  if (!c.take(header, sizeof header) || std::memcmp(header, ZTR_RTNN_DATA_HEADER, sizeof header) != 0) {
    *error = "not an RTNN data file";
    return -1;
  }
  RtnnTable staged;
  int32_t count = 0;
  if (!c.text32(&staged.set_id) || !c.i32(&count)) {
    *error = "the file ends inside its header";
    return -1;
  }
  if (count < 1 || count > ZTR_RTNN_MAX_NETWORKS) {
    *error = "network count " + std::to_string(count) + " (1 .. 64)";
    return -1;
  }
  for (int n = 0; n < count; ++n) {
    const std::string where = "network " + std::to_string(n + 1) + ": ";
    RtnnEntry entry;
    std::string name;
    int32_t layers = 0;
    int32_t sizes[ZTR_RTNN_MAX_LAYERS];
    int32_t codes[ZTR_RTNN_MAX_LAYERS] = {};
    if (!c.text32(&name) || !c.i32(&layers)) break;
    // The first word of the stored name, as the information file would give it.
    const size_t begin = name.find_first_not_of(" \t\n\r\v\f");
    name = begin == std::string::npos ? std::string() : name.substr(begin);
    name = name.substr(0, name.find_first_of(" \t\n\r\v\f"));
    if (layers < 1 || layers > ZTR_RTNN_MAX_LAYERS) {
      *error = where + "layer count " + std::to_string(layers) + " (1 .. 100)";
      return -1;
    }
    for (int l = 0; l < layers; ++l) c.i32(&sizes[l]);
    for (int l = 0; l + 1 < layers; ++l) c.i32(&codes[l]);
    if (!c.ok()) break;
    for (int l = 0; l < layers; ++l) {
      if (sizes[l] < 1 || sizes[l] > ZTR_RTNN_MAX_LAYER_SIZE) {
        *error = where + "layer size " + std::to_string(sizes[l]);
        return -1;
      }
    }
    if (sizes[layers - 1] > ZTR_RTNN_MAX_OUTPUTS || sizes[0] > ZTR_RTNN_MAX_MPG_CHANNELS - 1) {
      *error = where + "too many inputs or outputs";
      return -1;
    }
    // Sizes are checked against what is left before anything that large is allocated.
    size_t needed = size_t(32) * sizes[layers - 1] + size_t(16) * sizes[layers - 1] + 8;
    for (int l = 0; l + 1 < layers; ++l) needed += size_t(4) * sizes[l + 1] * (size_t(sizes[l]) + 1);
    if (needed > c.remaining()) break;
    for (int k = 0; k < sizes[layers - 1]; ++k) {
      std::string output;
      c.text32(&output);
      entry.output_names.push_back(output);
    }
    entry.network.reset(ZTRrtnn_NewRunTimeNeuralNetwork(layers, sizes, codes));
    if (!entry.network) {
      *error = where + "the network cannot be created";
      return -1;
    }
    RunTimeNeuralNetwork& net = *entry.network;
    std::memcpy(net.name, name.c_str(), name.size() + 1);
    for (int l = 0; l + 1 < layers; ++l) {
      ZTR_MATRIX* w = net.weight[l];
      for (int o = 0; o < w->rows; ++o) c.take(w->element[o], size_t(4) * w->columns);
      c.take(net.bias[l]->element, size_t(4) * net.bias[l]->count);
    }
    for (int k = 0; k < net.output_size; ++k) {
      c.f32(&net.output_scale[k]);
      c.f32(&net.output_offset[k]);
      c.f32(&net.output_lower[k]);
      c.f32(&net.output_upper[k]);
    }
    RtnnInputMpg& mpg = entry.input_mpg;
    if (!c.i32(&mpg.total) || !c.i32(&mpg.b0)) break;
    if (mpg.total < 1 || mpg.total > ZTR_RTNN_MAX_MPG_CHANNELS || mpg.b0 < 0 || mpg.b0 > mpg.total) {
      *error = where + "input MPG counts out of range";
      return -1;
    }
    if (size_t(16) * mpg.total > c.remaining()) break;
    mpg.b_value.resize(mpg.total);
    mpg.direction.resize(mpg.total);
    c.take(mpg.b_value.data(), size_t(4) * mpg.total);
    c.take(mpg.direction.data(), size_t(12) * mpg.total);
    if (!c.ok()) break;
    for (int l = 0; l + 1 < layers; ++l) {
      const ZTR_MATRIX* w = net.weight[l];
      for (int o = 0; o < w->rows; ++o) {
        for (int i = 0; i < w->columns; ++i) {
          if (!std::isfinite(w->element[o][i])) {
            *error = where + "a weight is not a number";
            return -1;
          }
        }
        if (!std::isfinite(net.bias[l]->element[o])) {
          *error = where + "a bias is not a number";
          return -1;
        }
      }
    }
    std::string reason;
    if (!output_parameters_usable(net, &reason) || !input_mpg_usable(mpg, &reason)) {
      *error = where + reason;
      return -1;
    }
    entry.state = -1;
    staged.entries.push_back(std::move(entry));
  }
  if (!c.ok() || staged.count() != count) {
    *error = "the file ends early (truncated)";
    return -1;
  }
  if (c.remaining() != 0) {
    *error = std::to_string(c.remaining()) + " bytes after the last network";
    return -1;
  }
  *table = std::move(staged);
  return table->count();
}

std::vector<unsigned char> rtnn_data_bytes(const RtnnTable& table) {
  std::vector<unsigned char> out;
  put_bytes(&out, ZTR_RTNN_DATA_HEADER, ZTR_RTNN_DATA_HEADER_BYTES);
  put_text32(&out, table.set_id);
  put_i32(&out, table.count());
  for (const RtnnEntry& e : table.entries) {
    const RunTimeNeuralNetwork& net = *e.network;
    put_text32(&out, net.name);
    put_i32(&out, net.layer_count);
    for (int l = 0; l < net.layer_count; ++l) put_i32(&out, net.layer_size[l]);
    for (int l = 0; l + 1 < net.layer_count; ++l) put_i32(&out, net.activation_code[l]);
    for (int k = 0; k < net.output_size; ++k) {
      put_text32(&out, k < static_cast<int>(e.output_names.size()) ? e.output_names[k] : std::string());
    }
    for (int l = 0; l + 1 < net.layer_count; ++l) {
      const ZTR_MATRIX* w = net.weight[l];
      for (int o = 0; o < w->rows; ++o) put_bytes(&out, w->element[o], size_t(4) * w->columns);
      put_bytes(&out, net.bias[l]->element, size_t(4) * net.bias[l]->count);
    }
    for (int k = 0; k < net.output_size; ++k) {
      put_f32(&out, net.output_scale[k]);
      put_f32(&out, net.output_offset[k]);
      put_f32(&out, net.output_lower[k]);
      put_f32(&out, net.output_upper[k]);
    }
    put_i32(&out, e.input_mpg.total);
    put_i32(&out, e.input_mpg.b0);
    put_bytes(&out, e.input_mpg.b_value.data(), size_t(4) * e.input_mpg.total);
    put_bytes(&out, e.input_mpg.direction.data(), size_t(12) * e.input_mpg.total);
  }
  return out;
}

int write_rtnn_data_file(const RtnnTable& table, const char* path, const RtnnWriteFunction& write) {
  if (!path || !*path) return 0;
  if (table.count() < 1) {
    std::fprintf(stderr, "Err: no RTNN loaded; %s not written\n", path);
    return 0;
  }
  const std::vector<unsigned char> bytes = rtnn_data_bytes(table);
  std::string temporary = std::string(path) + ".tmp-XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    std::fprintf(stderr, "File Not Opened: %s\n", path);
    return 0;
  }
  bool ok = fchmod(fd, 0644) == 0;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    const long n = write ? write(fd, bytes.data() + done, bytes.size() - done)
                         : ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) {
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && std::rename(temporary.c_str(), path) == 0;
  if (!ok) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "Err: failed to write %s; the file is unchanged\n", path);
    return 0;
  }
  return table.count();
}

int get_rtnn_file_kind(const char* path) {
  std::FILE* f = path ? std::fopen(path, "rb") : nullptr;
  if (!f) {
    std::fprintf(stderr, "File Not Found: %s\n", path ? path : "");
    return -1;
  }
  char head[sizeof ZTR_RTNN_INFORMATION_HEADER - 1];
  const size_t got = std::fread(head, 1, sizeof head, f);
  std::fclose(f);
  if (got >= ZTR_RTNN_DATA_HEADER_BYTES &&
      std::memcmp(head, ZTR_RTNN_DATA_HEADER, ZTR_RTNN_DATA_HEADER_BYTES) == 0) {
    return 0;
  }
  if (got == sizeof head && std::memcmp(head, ZTR_RTNN_INFORMATION_HEADER, sizeof head) == 0) return 1;
  return -1;
}

RtnnTable& rtnn_table() { return *process_table(); }

void initialize_rtnn_table() {
  process_table() = std::make_unique<RtnnTable>();
  std::fprintf(stderr, "RunTimeNeuralNetwork initalized\n");
}

void delete_all_rtnns() {
  process_table()->entries.clear();
  std::fprintf(stderr, "RunTimeNeuralNetwork deleted\n");
}

int load_rtnns_from_information_file(const char* path) {
  if (!path) return -1;
  std::fprintf(stderr, "Preparing RunTimeNeuralNetwork by file: %s\n", path);
  std::fprintf(stderr, ">>> Loading ... ");
  RtnnTable staged;
  if (parse_rtnn_information_file(path, &staged) < 0) return -1;
  *process_table() = std::move(staged);
  std::fprintf(stderr, "%d RTNNs done.\n", rtnn_table().count());
  return rtnn_table().count();
}

int parse_rtnn_data_file(const std::string& path, RtnnTable* table) {
  std::string bytes;
  const ReadResult r = read_whole_file(path, &bytes);
  if (r == ReadResult::NotFound) {
    std::fprintf(stderr, "File Not Found: %s\n", path.c_str());
    return -1;
  }
  std::string error = "cannot be read";
  if (r != ReadResult::Ok ||
      parse_rtnn_data(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), table,
                      &error) < 0) {
    if (error == "not an RTNN data file") {
      std::fprintf(stderr, "Not RTNN File: %s\n", path.c_str());
    } else {
      std::fprintf(stderr, "Err: broken RTNN data file %s: %s\n", path.c_str(), error.c_str());
    }
    return -1;
  }
  return table->count();
}

int parse_rtnn_file(const std::string& path, RtnnTable* table) {
  switch (get_rtnn_file_kind(path.c_str())) {
    case 0: return parse_rtnn_data_file(path, table);
    case 1: return parse_rtnn_information_file(path, table);
    default: std::fprintf(stderr, "Err: Not RTNN file\n"); return -1;
  }
}

int load_rtnns_from_data_file(const char* path) {
  if (!path) return -1;
  std::fprintf(stderr, "Preparing RunTimeNeuralNetwork by file: %s\n", path);
  std::fprintf(stderr, ">>> Loading ... ");
  RtnnTable staged;
  if (parse_rtnn_data_file(path, &staged) < 0) return -1;
  *process_table() = std::move(staged);
  std::fprintf(stderr, "done (ID:%s)\n", rtnn_table().set_id.c_str());
  return rtnn_table().count();
}

int write_rtnn_data_file(const char* path) { return write_rtnn_data_file(rtnn_table(), path); }

int load_default_rtnns() {
  const char* first = ZTR_RTNN_DEFAULT_FILE;
  if (std::FILE* f = std::fopen(first, "rb")) {
    std::fclose(f);
    const int n = load_rtnns_from_data_file(first);
    return n < 0 ? 0 : n;
  }
  char fallback[256];
  std::snprintf(fallback, sizeof fallback, ZTR_RTNN_DEFAULT_FOLDER_FORMAT, first);
  const int n = load_rtnns_from_data_file(fallback);
  return n < 0 ? 0 : n;
}

int count_rtnn_outputs(const RtnnTable& table) {
  int total = 0;
  for (const RtnnEntry& e : table.entries) total += e.network->output_size;
  return total;
}

int count_rtnn_outputs() { return count_rtnn_outputs(rtnn_table()); }
