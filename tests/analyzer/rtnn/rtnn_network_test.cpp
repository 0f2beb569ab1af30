// The network record and its forward pass: known outputs of small fixture networks, the
// blocked summation order, activations and the refused shapes.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "analyzer/rtnn/rtnn_network.h"

namespace {

struct Net {
  RtnnNetworkPtr network;
  RtnnIOPtr io;
  Net(std::vector<int32_t> sizes, std::vector<int32_t> codes) {
    network.reset(ZTRrtnn_NewRunTimeNeuralNetwork(static_cast<int32_t>(sizes.size()), sizes.data(),
                                                  codes.data()));
    if (network) io.reset(ZTRrtnn_NewRunTimeNeuralNetworkIO(network.get()));
  }
  void set_layer(int l, std::vector<float> w, std::vector<float> b) {
    ZTR_MATRIX* m = network->weight[l];
    for (int o = 0; o < m->rows; ++o) {
      for (int i = 0; i < m->columns; ++i) m->element[o][i] = w[size_t(o) * m->columns + i];
      network->bias[l]->element[o] = b[o];
    }
  }
  std::vector<float> run(std::vector<float> input) {
    for (size_t i = 0; i < input.size(); ++i) io->vector[0]->element[i] = input[i];
    EXPECT_EQ(ZTRrtnn_SetInput(network.get(), io.get()), 0);
    const ZTR_VECTOR* out = io->vector[network->layer_count - 1];
    return std::vector<float>(out->element, out->element + out->count);
  }
};

// The deep fixture: 2 -> 3 -> 3 -> 1 with the given activations.
Net deep(std::vector<int32_t> codes) {
  Net n({2, 3, 3, 1}, codes);
  n.set_layer(0, {0.5f, -0.25f, 1, 0, 0, -1}, {0, 0.125f, -0.5f});
  n.set_layer(1, {1, -1, 0.5f, 0, 2, -0.5f, 0.25f, 0.25f, 0.25f}, {0, -0.5f, 1});
  n.set_layer(2, {1, -2, 0.5f}, {0.5f});
  return n;
}

TEST(RtnnForwardPass, ReluNetworkOfAllOnesGivesSumAndCutNegative) {
  // (1 + 2 + 3) + 0 = 6; (1 + 2 + 3) - 10 = -4, cut to 0 by ReLU.
  Net n({3, 2}, {ZTR_RTNN_RELU});
  n.set_layer(0, {1, 1, 1, 1, 1, 1}, {0, -10});
  EXPECT_EQ(n.run({1, 2, 3}), (std::vector<float>{6, 0}));
}

TEST(RtnnForwardPass, DeepNetworkMatchesDoublePrecisionReference) {
  // numpy float64: 0.250378223 (sigmoid, tanh, identity).
  Net n = deep({ZTR_RTNN_SIG, ZTR_RTNN_TNH, ZTR_RTNN_LIN});
  EXPECT_NEAR(n.run({1, -2})[0], 0.250378223, 1e-6);
}

TEST(RtnnForwardPass, UnknownActivationCodesAreIdentity) {
  // The deep fixture with every activation unknown is linear: exactly 0.078125.
  Net n = deep({-1, 9, 77});
  EXPECT_EQ(n.run({1, -2})[0], 0.078125f);
  EXPECT_EQ(rtnn_activation_code("FOO"), -1);
  EXPECT_EQ(rtnn_activation_code("TNH"), ZTR_RTNN_TNH);
  EXPECT_EQ(rtnn_activation(-1)(-3.5f), -3.5f);
}

TEST(RtnnActivations, TanhAndSigmoidRoundToTheDoublePrecisionValues) {
  // Every 1e-5 step over [-25, 25] and a few extremes.
  int checked = 0;
  for (int i = -2500000; i <= 2500000; ++i) {
    const float x = static_cast<float>(i * 1e-5);
    ASSERT_EQ(rtnn_activation(ZTR_RTNN_TNH)(x), static_cast<float>(std::tanh(double(x)))) << x;
    ++checked;
  }
  for (float x : {-1e30f, -88.0f, -1e-30f, 0.0f, 1e-30f, 88.0f, 1e30f}) {
    EXPECT_EQ(rtnn_activation(ZTR_RTNN_TNH)(x), static_cast<float>(std::tanh(double(x)))) << x;
  }
  EXPECT_EQ(rtnn_activation(ZTR_RTNN_SIG)(0.0f), 0.5f);
  EXPECT_EQ(rtnn_activation(ZTR_RTNN_SIG)(-1000.0f), 0.0f);
  EXPECT_EQ(rtnn_activation(ZTR_RTNN_RELU)(-2.0f), 0.0f);
  EXPECT_EQ(checked, 5000001);
}

TEST(RtnnForwardPass, DotProductSumsBlocksOfFourPairwise) {
  // (1e8 + 1) + (-1e8 + 1) is 0 in float, then + 1 from the padded block: 1. A left-to-right
  // sum would give 2.
  Net n({5, 1}, {ZTR_RTNN_LIN});
  n.set_layer(0, {1e8f, 1, -1e8f, 1, 1}, {0});
  EXPECT_EQ(n.run({1, 1, 1, 1, 1})[0], 1.0f);
}

TEST(RtnnForwardPass, AbsentNetworkOrForeignScratchIsRefused) {
  Net a({3, 2}, {0});
  Net b({4, 2, 1}, {0, 0});
  EXPECT_EQ(ZTRrtnn_SetInput(nullptr, a.io.get()), -1);
  EXPECT_EQ(ZTRrtnn_SetInput(a.network.get(), b.io.get()), -1);
  EXPECT_EQ(ZTRrtnn_SetInput(a.network.get(), nullptr), -1);
}

TEST(RtnnNetworkCreation, RefusesShapesThatWouldOverrunTheRecord) {
  struct Case {
    const char* what;
    std::vector<int32_t> sizes;
  };
  const Case cases[] = {
      {"no layer", {}},
      {"zero-size layer", {3, 0, 1}},
      {"negative size", {3, -1}},
      {"17 outputs", {3, 17}},
      {"oversized layer", {3, ZTR_RTNN_MAX_LAYER_SIZE + 1, 1}},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> codes(c.sizes.size() + 1, 0);
    EXPECT_EQ(ZTRrtnn_NewRunTimeNeuralNetwork(static_cast<int32_t>(c.sizes.size()), c.sizes.data(),
                                              codes.data()),
              nullptr)
        << c.what;
  }
  std::vector<int32_t> many(101, 2), codes(101, 0);
  EXPECT_EQ(ZTRrtnn_NewRunTimeNeuralNetwork(101, many.data(), codes.data()), nullptr);
  RtnnNetworkPtr hundred(ZTRrtnn_NewRunTimeNeuralNetwork(100, many.data(), codes.data()));
  ASSERT_NE(hundred, nullptr);
  EXPECT_EQ(hundred->output_size, 2);
}

TEST(RtnnNetworkCreation, SingleLayerNetworkPassesItsInputThrough) {
  const int32_t size = 3;
  RtnnNetworkPtr n(ZTRrtnn_NewRunTimeNeuralNetwork(1, &size, nullptr));
  ASSERT_NE(n, nullptr);
  RtnnIOPtr io(ZTRrtnn_NewRunTimeNeuralNetworkIO(n.get()));
  io->vector[0]->element[1] = 4.5f;
  EXPECT_EQ(ZTRrtnn_SetInput(n.get(), io.get()), 0);
  EXPECT_EQ(io->vector[0]->element[1], 4.5f);
}

}  // namespace
