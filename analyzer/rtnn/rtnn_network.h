// Small fully connected feed-forward networks evaluated voxel by voxel: the network record,
// its per-thread evaluation scratch and the forward pass.
#pragma once

#include <cstdint>
#include <memory>

#include "analyzer/dti/numerical.h"

inline constexpr int32_t ZTR_RTNN_MAX_LAYERS = 100;
inline constexpr int32_t ZTR_RTNN_MAX_OUTPUTS = 16;
// Widest layer a loader accepts; keeps every weight block well inside 32-bit counts.
inline constexpr int32_t ZTR_RTNN_MAX_LAYER_SIZE = 8192;
inline constexpr int32_t ZTR_RTNN_NAME_BYTES = 32;

enum : int32_t { ZTR_RTNN_LIN = 0, ZTR_RTNN_RELU = 1, ZTR_RTNN_SIG = 2, ZTR_RTNN_TNH = 3 };

using RtnnActivation = float (*)(float);

struct RunTimeNeuralNetwork {
  int32_t layer_count;
  int32_t layer_size[ZTR_RTNN_MAX_LAYERS];
  int32_t activation_code[ZTR_RTNN_MAX_LAYERS];
  int32_t input_size;
  int32_t output_size;
  ZTR_VECTOR* bias[ZTR_RTNN_MAX_LAYERS];     // bias l: layer_size[l+1] entries
  ZTR_MATRIX* weight[ZTR_RTNN_MAX_LAYERS];   // weight l: layer_size[l+1] x layer_size[l]
  RtnnActivation activation[ZTR_RTNN_MAX_LAYERS];
  char name[ZTR_RTNN_NAME_BYTES];            // always zero-terminated
  float output_scale[ZTR_RTNN_MAX_OUTPUTS];  // map value = output x scale + offset
  float output_offset[ZTR_RTNN_MAX_OUTPUTS];
  float output_lower[ZTR_RTNN_MAX_OUTPUTS];  // limits of the map value
  float output_upper[ZTR_RTNN_MAX_OUTPUTS];
};

// Evaluation scratch of one network; one per evaluating thread, never shared.
struct RunTimeNeuralNetworkIO {
  int32_t layer_count;
  int32_t layer_size[ZTR_RTNN_MAX_LAYERS];
  int32_t input_size;
  int32_t output_size;
  ZTR_VECTOR* vector[ZTR_RTNN_MAX_LAYERS];  // vector 0 is the input, vector L-1 the output
};

// The activation of a code; every code other than the four known ones is the identity.
RtnnActivation rtnn_activation(int32_t code);
// The code of an activation name ("LIN", "ReLU", "SIG", "TNH"); -1 for any other name.
int32_t rtnn_activation_code(const char* name);

// New network with zero weights and biases, or nullptr with a message: L < 1 ("Invalid Layer
// Num"), L above 100, a layer size outside 1 .. ZTR_RTNN_MAX_LAYER_SIZE, more than 16
// outputs, or no memory ("Memory Full"). Output scales start at 1, offsets at 0 and limits
// at the float range.
RunTimeNeuralNetwork* ZTRrtnn_NewRunTimeNeuralNetwork(int32_t layer_count, const int32_t* sizes,
                                                      const int32_t* activation_codes);
void ZTRrtnn_DeleteRunTimeNeuralNetwork(RunTimeNeuralNetwork* network);  // nullptr ignored
RunTimeNeuralNetworkIO* ZTRrtnn_NewRunTimeNeuralNetworkIO(const RunTimeNeuralNetwork* network);
void ZTRrtnn_DeleteRunTimeNeuralNetworkIO(RunTimeNeuralNetworkIO* io);  // nullptr ignored

// Forward pass from vector 0 to vector L-1 of `io`. Allocates nothing. Returns 0, or -1 when
// the network is absent ("Invalid Network (NULL): ZTRrtnn_SetInput\n") or the scratch does
// not belong to a network of this shape ("Dimension mismatched (%d<->%d)\n"); the output
// is then not to be used. Threads may share the network, each with its own scratch.
int ZTRrtnn_SetInput(const RunTimeNeuralNetwork* network, RunTimeNeuralNetworkIO* io);

// The dot product of the forward pass: both operands zero-padded to a multiple of four,
// each block summed as (p0 + p1) + (p2 + p3) into a running float sum.
float rtnn_blocked_dot(const float* a, const float* b, int32_t n);

struct RtnnNetworkDeleter {
  void operator()(RunTimeNeuralNetwork* n) const { ZTRrtnn_DeleteRunTimeNeuralNetwork(n); }
};
struct RtnnIODeleter {
  void operator()(RunTimeNeuralNetworkIO* io) const { ZTRrtnn_DeleteRunTimeNeuralNetworkIO(io); }
};
using RtnnNetworkPtr = std::unique_ptr<RunTimeNeuralNetwork, RtnnNetworkDeleter>;
using RtnnIOPtr = std::unique_ptr<RunTimeNeuralNetworkIO, RtnnIODeleter>;
