// The network record, its evaluation scratch and the forward pass.
#include "analyzer/rtnn/rtnn_network.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

float identity(float x) { return x; }
float relu(float x) { return x > 0.0f ? x : 0.0f; }
float sigmoid(float x) { return static_cast<float>(1.0 / (std::exp(-static_cast<double>(x)) + 1.0)); }
// tanh in double through one exp: rounded to float it gives the same values as std::tanh
// at half the cost, which matters in the per-voxel loop of the maps. Tiny arguments, where
// the difference form cancels, are their own tanh in float.
float hyperbolic_tangent(float x) {
  const double d = x;
  if (std::fabs(d) < 1e-4) return x;
  return static_cast<float>(1.0 - 2.0 / (std::exp(2.0 * d) + 1.0));
}

}  // namespace

RtnnActivation rtnn_activation(int32_t code) {
  switch (code) {
    case ZTR_RTNN_RELU: return relu;
    case ZTR_RTNN_SIG: return sigmoid;
    case ZTR_RTNN_TNH: return hyperbolic_tangent;
    default: return identity;
  }
}

int32_t rtnn_activation_code(const char* name) {
  if (!name) return -1;
  if (std::strcmp(name, "LIN") == 0) return ZTR_RTNN_LIN;
  if (std::strcmp(name, "ReLU") == 0) return ZTR_RTNN_RELU;
  if (std::strcmp(name, "SIG") == 0) return ZTR_RTNN_SIG;
  if (std::strcmp(name, "TNH") == 0) return ZTR_RTNN_TNH;
  return -1;
}

RunTimeNeuralNetwork* ZTRrtnn_NewRunTimeNeuralNetwork(int32_t layer_count, const int32_t* sizes,
                                                      const int32_t* activation_codes) {
  if (layer_count < 1 || !sizes || (layer_count > 1 && !activation_codes)) {
    std::fprintf(stderr, "Invalid Layer Num: ZTRrtnn_NewRunTimeNeuralNetwork\n");
    return nullptr;
  }
  if (layer_count > ZTR_RTNN_MAX_LAYERS) {
    std::fprintf(stderr, "Err: %d layers (at most %d): ZTRrtnn_NewRunTimeNeuralNetwork\n",
                 layer_count, ZTR_RTNN_MAX_LAYERS);
    return nullptr;
  }
  for (int32_t l = 0; l < layer_count; ++l) {
    if (sizes[l] < 1 || sizes[l] > ZTR_RTNN_MAX_LAYER_SIZE) {
      std::fprintf(stderr, "Err: layer %d has %d neurons (1 .. %d): ZTRrtnn_NewRunTimeNeuralNetwork\n",
                   l, sizes[l], ZTR_RTNN_MAX_LAYER_SIZE);
      return nullptr;
    }
  }
  if (sizes[layer_count - 1] > ZTR_RTNN_MAX_OUTPUTS) {
    std::fprintf(stderr, "Err: %d outputs (at most %d): ZTRrtnn_NewRunTimeNeuralNetwork\n",
                 sizes[layer_count - 1], ZTR_RTNN_MAX_OUTPUTS);
    return nullptr;
  }
  auto* network = new (std::nothrow) RunTimeNeuralNetwork{};
  if (!network) {
    std::fprintf(stderr, "Memory Full: ZTRrtnn_NewRunTimeNeuralNetwork\n");
    return nullptr;
  }
  RtnnNetworkPtr guard(network);
  network->layer_count = layer_count;
  for (int32_t l = 0; l < layer_count; ++l) network->layer_size[l] = sizes[l];
  network->input_size = sizes[0];
  network->output_size = sizes[layer_count - 1];
  for (int32_t l = 0; l + 1 < layer_count; ++l) {
    network->activation_code[l] = activation_codes[l];
    network->activation[l] = rtnn_activation(activation_codes[l]);
    network->weight[l] = ZTR_NewMatrix(sizes[l + 1], sizes[l]);
    network->bias[l] = ZTR_NewVector(sizes[l + 1]);
    if (!network->weight[l] || !network->bias[l]) {
      std::fprintf(stderr, "Memory Full: ZTRrtnn_NewRunTimeNeuralNetwork\n");
      return nullptr;
    }
  }
  for (int32_t k = 0; k < ZTR_RTNN_MAX_OUTPUTS; ++k) {
    network->output_scale[k] = 1.0f;
    network->output_lower[k] = -FLT_MAX;
    network->output_upper[k] = FLT_MAX;
  }
  return guard.release();
}

void ZTRrtnn_DeleteRunTimeNeuralNetwork(RunTimeNeuralNetwork* network) {
  if (!network) return;
  for (int32_t l = 0; l < ZTR_RTNN_MAX_LAYERS; ++l) {
    ZTR_DeleteMatrix(network->weight[l]);
    ZTR_DeleteVector(network->bias[l]);
  }
  delete network;
}

RunTimeNeuralNetworkIO* ZTRrtnn_NewRunTimeNeuralNetworkIO(const RunTimeNeuralNetwork* network) {
  if (!network || network->layer_count < 1 || network->layer_count > ZTR_RTNN_MAX_LAYERS) {
    std::fprintf(stderr, "Invalid Layer Num: ZTRrtnn_NewRunTimeNeuralNetworkIO\n");
    return nullptr;
  }
  auto* io = new (std::nothrow) RunTimeNeuralNetworkIO{};
  if (!io) {
    std::fprintf(stderr, "Memory Full: ZTRrtnn_NewRunTimeNeuralNetworkIO\n");
    return nullptr;
  }
  RtnnIOPtr guard(io);
  io->layer_count = network->layer_count;
  io->input_size = network->input_size;
  io->output_size = network->output_size;
  for (int32_t l = 0; l < network->layer_count; ++l) {
    io->layer_size[l] = network->layer_size[l];
    io->vector[l] = ZTR_NewVector(network->layer_size[l]);
    if (!io->vector[l]) {
      std::fprintf(stderr, "Memory Full: ZTRrtnn_NewRunTimeNeuralNetwork\n");
      return nullptr;
    }
  }
  return guard.release();
}

void ZTRrtnn_DeleteRunTimeNeuralNetworkIO(RunTimeNeuralNetworkIO* io) {
  if (!io) return;
  for (int32_t l = 0; l < ZTR_RTNN_MAX_LAYERS; ++l) ZTR_DeleteVector(io->vector[l]);
  delete io;
}

float rtnn_blocked_dot(const float* a, const float* b, int32_t n) {
  float sum = 0.0f;
  int32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const float p0 = a[i] * b[i], p1 = a[i + 1] * b[i + 1];
    const float p2 = a[i + 2] * b[i + 2], p3 = a[i + 3] * b[i + 3];
    sum += (p0 + p1) + (p2 + p3);
  }
  if (i < n) {
    // The zero padding of the last block, without padded copies.
    float p[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int32_t k = 0; i + k < n; ++k) p[k] = a[i + k] * b[i + k];
    sum += (p[0] + p[1]) + (p[2] + p[3]);
  }
  return sum;
}

int ZTRrtnn_SetInput(const RunTimeNeuralNetwork* network, RunTimeNeuralNetworkIO* io) {
  if (!network) {
    std::fprintf(stderr, "Invalid Network (NULL): ZTRrtnn_SetInput\n");
    return -1;
  }
  if (!io || io->layer_count != network->layer_count) return -1;
  for (int32_t l = 1; l < network->layer_count; ++l) {
    const ZTR_VECTOR* x = io->vector[l - 1];
    ZTR_VECTOR* y = io->vector[l];
    const ZTR_MATRIX* w = network->weight[l - 1];
    const ZTR_VECTOR* b = network->bias[l - 1];
    if (!x || !y || !w || !b || w->columns != x->count || w->rows != y->count ||
        b->count != y->count) {
      std::fprintf(stderr, "Dimension mismatched (%d<->%d)\n", w ? w->columns : -1,
                   x ? x->count : -1);
      return -1;
    }
    const RtnnActivation f = network->activation[l - 1];
    for (int32_t r = 0; r < y->count; ++r) {
      y->element[r] = f(rtnn_blocked_dot(w->element[r], x->element, x->count) + b->element[r]);
    }
  }
  return 0;
}
