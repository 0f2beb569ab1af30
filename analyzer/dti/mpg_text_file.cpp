// The MPG text file: recognition of its three forms (headed kLS-II with rotation axes,
// QSA shells, plain), the reader that applies it, the RTNN loader's reader and the writer.
// Every reader parses the whole contents in memory, bounded by their real length, and
// builds the complete new setting before touching the record.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "analyzer/dti/mpg_setting.h"

namespace {

constexpr size_t kMaxFileBytes = 64u << 20;  // far above any real MPG file
constexpr size_t kMaxHeaderLine = 1023;

const char kInvalidAxes[] = "Error: Invalid MPG axes.  Setting unchanged.\n";
const char kMalformed[] =
    "Error: MPG file ends early or holds an unreadable number.  Setting unchanged.\n";
const char kOutOfRange[] = "Error: MPG file counts are out of range.  Setting unchanged.\n";

enum class Form { kKls, kQsa, kPlain };

// Whitespace-separated numeric tokens of a text, read like "%d" and "%f" would read them,
// except that a token that is not entirely a finite number is an error.
class Tokens {
 public:
  explicit Tokens(std::string text) : text_(std::move(text)) {}

  bool read_int(int32_t* out) {
    std::string token;
    if (!next(&token)) return false;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(token.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    *out = static_cast<int32_t>(value);
    return true;
  }

  bool read_float(float* out) {
    std::string token;
    if (!next(&token)) return false;
    char* end = nullptr;
    const float value = std::strtof(token.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value)) return false;
    *out = value;
    return true;
  }

  bool read_floats(float* out, int n) {
    for (int i = 0; i < n; ++i)
      if (!read_float(out + i)) return false;
    return true;
  }

  void skip(size_t bytes) { position_ = bytes < text_.size() ? bytes : text_.size(); }

 private:
  static bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }

  bool next(std::string* token) {
    while (position_ < text_.size() && is_space(text_[position_])) ++position_;
    if (position_ >= text_.size()) return false;
    const size_t start = position_;
    while (position_ < text_.size() && !is_space(text_[position_])) ++position_;
    token->assign(text_, start, position_ - start);
    return true;
  }

  std::string text_;
  size_t position_ = 0;
};

// The first line as a line reader with a 1024-byte buffer returns it: at most 1023 bytes,
// through the first line end. Its last byte (the line end) is dropped, and a carriage
// return before it too, so that files written with CR LF line ends are recognised.
Form recognise(std::string_view text, size_t* body_start) {
  size_t length = 0;
  while (length < text.size() && length < kMaxHeaderLine) {
    if (text[length++] == '\n') break;
  }
  std::string_view line = text.substr(0, length);
  if (!line.empty()) line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  *body_start = length;
  if (line == ZTR_MPG_KLS_HEADER) return Form::kKls;
  if (line == ZTR_MPG_QSA_HEADER) return Form::kQsa;
  *body_start = 0;
  return Form::kPlain;
}

struct Setting {
  int32_t total = 0;
  int32_t b0 = 0;
  std::vector<float> b;
  std::vector<float> g;  // 3 per channel
};

// Reads `total` groups of b value and direction.
bool read_groups(Tokens& in, Setting& s) {
  s.b.assign(static_cast<size_t>(s.total), 0.0f);
  s.g.assign(static_cast<size_t>(s.total) * 3, 0.0f);
  for (int32_t c = 0; c < s.total; ++c) {
    if (!in.read_float(&s.b[c]) || !in.read_floats(&s.g[3 * c], 3)) return false;
  }
  return true;
}

// QSA body after the header. Returns 0, or -1 after printing why it was refused.
int read_qsa(Tokens& in, Setting& s) {
  int32_t b0 = 0, shells = 0, directions = 0;
  float ignored[2];
  if (!in.read_int(&b0) || !in.read_int(&shells) || !in.read_int(&directions)) {
    std::fputs(kMalformed, stderr);
    return -1;
  }
  if (b0 < 0 || shells < 0 || shells > ZTR_MPG_MAX_B_VALUES || directions < 0 ||
      directions > ZTR_MPG_MAX_DIRECTIONS ||
      int64_t(shells) * directions + b0 > ZTR_DTI_MAX_CHANNELS) {
    std::fputs(kOutOfRange, stderr);
    return -1;
  }
  std::vector<float> shell_b(static_cast<size_t>(shells));
  std::vector<float> dirs(static_cast<size_t>(directions) * 3);
  if (!in.read_floats(ignored, 2) || !in.read_floats(shell_b.data(), shells) ||
      !in.read_floats(dirs.data(), directions * 3)) {
    std::fputs(kMalformed, stderr);
    return -1;
  }
  s.b0 = b0;
  s.total = shells * directions + b0;
  s.b.assign(static_cast<size_t>(s.total), 0.0f);
  s.g.assign(static_cast<size_t>(s.total) * 3, 0.0f);
  for (int32_t shell = 0; shell < shells; ++shell) {
    for (int32_t d = 0; d < directions; ++d) {
      const size_t c = static_cast<size_t>(b0 + shell * directions + d);
      s.b[c] = shell_b[shell];
      for (int a = 0; a < 3; ++a) s.g[3 * c + a] = dirs[3 * d + a];
    }
  }
  return 0;
}

int apply(DiffusionTensorImageData* data, const Setting& s) {
  ZTRdti_SetMPG(data, s.total, s.b0, s.b.data(),
                reinterpret_cast<const float(*)[3]>(s.g.data()));
  return 0;
}

bool read_stream(std::FILE* stream, std::string* text) {
  char chunk[8192];
  size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0) {
    if (text->size() + n > kMaxFileBytes) return false;
    text->append(chunk, n);
  }
  return std::ferror(stream) == 0;
}

bool read_path(const char* path, std::string* text, bool* opened) {
  *opened = false;
  if (path == nullptr) return false;
  std::FILE* f = std::fopen(path, "r");
  if (f == nullptr) return false;
  *opened = true;
  const bool ok = read_stream(f, text);
  std::fclose(f);
  return ok;
}

}  // namespace

int parse_mpg_text(std::string_view text, DiffusionTensorImageData* data) {
  if (data == nullptr) return -1;
  size_t body = 0;
  const Form form = recognise(text, &body);
  Tokens in{std::string(text)};
  in.skip(body);
  Setting s;
  const int32_t available = data->volume != nullptr && data->volume->header != nullptr
                                ? data->volume->header->channels
                                : 0;
  switch (form) {
    case Form::kKls: {
      float u[3], v[3];
      if (!in.read_floats(u, 3) || !in.read_floats(v, 3) || !in.read_int(&s.total) ||
          !in.read_int(&s.b0)) {
        std::fputs(kMalformed, stderr);
        return -1;
      }
      if (s.total > available || int64_t(s.total) - s.b0 < 6) {
        std::fputs(kInvalidAxes, stderr);
        return -1;
      }
      if (s.b0 < 0 || s.total > ZTR_DTI_MAX_CHANNELS) {
        std::fputs(kOutOfRange, stderr);
        return -1;
      }
      if (!read_groups(in, s)) {
        std::fputs(kMalformed, stderr);
        return -1;
      }
      apply(data, s);
      const bool identity = u[0] == 1.0f && u[1] == 0.0f && u[2] == 0.0f && v[0] == 0.0f &&
                            v[1] == 1.0f && v[2] == 0.0f;
      // Rotating after a refused setting would alter the previous setting's directions;
      // the rotation belongs to the new setting only.
      if (!identity && data->mpg_ready == 1) {
        const float w[3] = {u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2],
                            u[0] * v[1] - u[1] * v[0]};
        std::fprintf(stderr, "MPG vectors rotated by:\n");
        std::fprintf(stderr, "\tu=(%f,%f,%f)\n", u[0], u[1], u[2]);
        std::fprintf(stderr, "\tv=(%f,%f,%f)\n", v[0], v[1], v[2]);
        std::fprintf(stderr, "\tw=(%f,%f,%f)\n", w[0], w[1], w[2]);
        for (int32_t c = 0; c < data->dti_channels; ++c) {
          float* g = data->mpg_vector[c];
          const float gx = g[0], gy = g[1], gz = g[2];
          g[0] = gx * u[0] + gy * u[1] + gz * u[2];
          g[1] = gx * v[0] + gy * v[1] + gz * v[2];
          g[2] = gx * w[0] + gy * w[1] + gz * w[2];
        }
      }
      break;
    }
    case Form::kQsa:
      if (read_qsa(in, s) != 0) return -1;
      // A ready setting naming channels the volume does not hold would send analysis
      // outside the volume.
      if (s.total > available) {
        std::fputs(kInvalidAxes, stderr);
        return -1;
      }
      apply(data, s);
      break;
    case Form::kPlain: {
      int32_t directions = 0;
      float b = 0.0f;
      if (!in.read_int(&directions)) {
        std::fputs(kMalformed, stderr);
        return -1;
      }
      // The setting holds one b=0 channel besides the directions: all of them must be in
      // the volume, or analysis would read past its last channel.
      if (directions > available - 1 || directions < 6) {
        std::fputs(kInvalidAxes, stderr);
        return -1;
      }
      if (directions >= ZTR_DTI_MAX_CHANNELS) {
        std::fputs(kOutOfRange, stderr);
        return -1;
      }
      s.total = directions + 1;
      s.b0 = 1;
      s.b.assign(static_cast<size_t>(s.total), 0.0f);
      s.g.assign(static_cast<size_t>(s.total) * 3, 0.0f);
      if (!in.read_float(&b) || !in.read_floats(&s.g[3], directions * 3)) {
        std::fputs(kMalformed, stderr);
        return -1;
      }
      for (int32_t c = 1; c < s.total; ++c) s.b[c] = b;
      apply(data, s);
      break;
    }
  }
  ZTRdti_PrintMPGSetting(data);
  return 0;
}

int read_mpg_text_file(std::FILE* stream, DiffusionTensorImageData* data) {
  if (stream == nullptr) return -1;
  std::string text;
  const bool ok = read_stream(stream, &text);
  std::fclose(stream);
  if (!ok) {
    std::fputs(kMalformed, stderr);
    return -1;
  }
  return parse_mpg_text(text, data);
}

int parse_mpg_text_to_arrays(std::string_view text, const char* path_for_report,
                             int32_t* total, int32_t* b0, float* b_values,
                             float (*mpg_vectors)[3]) {
  if (total == nullptr || b0 == nullptr || b_values == nullptr || mpg_vectors == nullptr)
    return -1;
  size_t body = 0;
  const Form form = recognise(text, &body);
  Tokens in{std::string(text)};
  in.skip(body);
  Setting s;
  if (form == Form::kKls) {
    float axes[6];
    if (!in.read_floats(axes, 6) || !in.read_int(&s.total) || !in.read_int(&s.b0)) {
      std::fputs(kMalformed, stderr);
      return -1;
    }
    std::fprintf(stderr, "MPG file: %s\n", path_for_report ? path_for_report : "");
    std::fprintf(stderr, "channels: %d, %d\n", s.total, s.b0);
    if (s.total < 0 || s.total > ZTR_DTI_MAX_CHANNELS || s.b0 < 0 || s.b0 > s.total) {
      std::fputs(kOutOfRange, stderr);
      return -1;
    }
    if (!read_groups(in, s)) {
      std::fputs(kMalformed, stderr);
      return -1;
    }
  } else if (form == Form::kQsa) {
    if (read_qsa(in, s) != 0) return -1;
  } else {
    std::fprintf(stderr, "Invalid MPG file\n");
    return -1;
  }
  *total = s.total;
  *b0 = s.b0;
  for (int32_t c = 0; c < s.total; ++c) {
    b_values[c] = s.b[c];
    for (int a = 0; a < 3; ++a) mpg_vectors[c][a] = s.g[3 * c + a];
  }
  return 0;
}

int read_mpg_text_file_to_arrays(const char* path, int32_t* total, int32_t* b0,
                                 float* b_values, float (*mpg_vectors)[3]) {
  std::string text;
  bool opened = false;
  const bool ok = read_path(path, &text, &opened);
  if (!opened) return -1;
  if (!ok) {
    std::fputs(kMalformed, stderr);
    return -1;
  }
  return parse_mpg_text_to_arrays(text, path, total, b0, b_values, mpg_vectors);
}

std::string mpg_text_file_contents(const DiffusionTensorImageData* data) {
  std::string out;
  if (data == nullptr) return out;
  char line[256];
  out += ZTR_MPG_KLS_HEADER;
  out += "\n1.0 0.0 0.0\n0.0 1.0 0.0\n";
  std::snprintf(line, sizeof line, "%d\n%d\n", data->dti_channels, data->b0_channels);
  out += line;
  const int32_t n = data->dti_channels < 0 ? 0
                    : data->dti_channels > ZTR_DTI_MAX_CHANNELS ? ZTR_DTI_MAX_CHANNELS
                                                               : data->dti_channels;
  for (int32_t c = 0; c < n; ++c) {
    std::snprintf(line, sizeof line, "%f %f %f %f\n", data->b_value[c], data->mpg_vector[c][0],
                  data->mpg_vector[c][1], data->mpg_vector[c][2]);
    out += line;
  }
  return out;
}

int write_mpg_text_file(const char* path, const DiffusionTensorImageData* data) {
  if (path == nullptr || data == nullptr) return -1;
  std::FILE* f = std::fopen(path, "w");
  if (f == nullptr) return -1;
  const std::string text = mpg_text_file_contents(data);
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const bool closed = std::fclose(f) == 0;
  return written && closed ? 0 : -1;
}
