// Small network sets built in code for the RTNN tests: temporary folders, information files
// with their CSV and MPG files, and tables made directly from weights.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "analyzer/rtnn/rtnn_files.h"

namespace rtnn_test {

// A fresh folder removed at the end of the test, even when it fails.
struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char name[] = "/tmp/ztr_rtnn_test_XXXXXX";
    path = mkdtemp(name) ? std::filesystem::path(name) : std::filesystem::path();
  }
  ~TempDir() {
    std::error_code ec;
    if (!path.empty()) std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// A headed kLS-II MPG text: one b=0 channel, then the given directions at b.
inline std::string mpg_text(const std::vector<std::array<float, 3>>& directions, float b = 1000.0f) {
  std::ostringstream out;
  out << "#kLS-II MPG description file (not used in earlier kLS)\n1.0 0.0 0.0\n0.0 1.0 0.0\n"
      << directions.size() + 1 << "\n1\n0 0 0 0\n";
  for (const auto& g : directions) out << b << ' ' << g[0] << ' ' << g[1] << ' ' << g[2] << '\n';
  return out.str();
}

inline std::vector<std::array<float, 3>> axis_directions() { return {{{1, 0, 0}}, {{0, 1, 0}}, {{0, 0, 1}}}; }

// The "layout" network: 3 -> 2, LIN, CSV weights 1..6 input-major (W = [[1,3,5],[2,4,6]]),
// biases (0.5, -0.5); its MPG has one b=0 channel and three axis directions.
inline void write_layout_set(const TempDir& dir, const std::string& set_id = "layout-set") {
  write_file(dir / "w.csv", "1,2,3,4,5,6\n");
  write_file(dir / "b.csv", "0.5,-0.5\n");
  write_file(dir / "net.mpg", mpg_text(axis_directions()));
  write_file(dir / "set.txt", std::string(ZTR_RTNN_INFORMATION_HEADER) + "\n" + set_id +
                                  "\n1\nlayout 2 3 2 LIN o0 o1 w.csv b.csv\n"
                                  "1 0 -100 1000\n1 0 -100 1000\nnet.mpg\n");
}

// A table entry made in code: sizes, activation codes, weights (out x in per layer, row
// major), biases, and an input MPG of one b=0 channel plus the given directions at b 1000.
inline RtnnEntry make_entry(const std::string& name, const std::vector<int32_t>& sizes,
                            const std::vector<int32_t>& codes,
                            const std::vector<std::vector<float>>& weights,
                            const std::vector<std::vector<float>>& biases,
                            const std::vector<std::array<float, 3>>& directions) {
  RtnnEntry e;
  e.network.reset(ZTRrtnn_NewRunTimeNeuralNetwork(static_cast<int32_t>(sizes.size()), sizes.data(),
                                                  codes.data()));
  std::snprintf(e.network->name, sizeof e.network->name, "%s", name.c_str());
  for (size_t l = 0; l < weights.size(); ++l) {
    ZTR_MATRIX* w = e.network->weight[l];
    for (int o = 0; o < w->rows; ++o) {
      for (int i = 0; i < w->columns; ++i) w->element[o][i] = weights[l][size_t(o) * w->columns + i];
      e.network->bias[l]->element[o] = biases[l][o];
    }
  }
  for (int k = 0; k < e.network->output_size; ++k) e.output_names.push_back(name + std::to_string(k));
  e.input_mpg.total = static_cast<int32_t>(directions.size()) + 1;
  e.input_mpg.b0 = 1;
  e.input_mpg.b_value.push_back(0.0f);
  e.input_mpg.direction.push_back({0, 0, 0});
  for (const auto& g : directions) {
    e.input_mpg.b_value.push_back(1000.0f);
    e.input_mpg.direction.push_back(g);
  }
  return e;
}

}  // namespace rtnn_test
