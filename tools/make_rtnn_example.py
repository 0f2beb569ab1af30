#!/usr/bin/python3
"""Writes a small RTNN example set from known weights, for the tests and the demo.

usage: make_rtnn_example.py --mpg FILE --out DIR [--hidden N]

The networks take the log signal ratios ln(S_c / S0) of the gradient table in the MPG text
file (one input per non-b=0 channel) and are written twice: as an information file with
CSV weights (example.rtnn.txt, weights input-major) and as a data file (example.rtnn.bin,
weights output-major). The MPG file is copied beside them as input.mpg.

  meanlog  LIN, inputs -> 2: "mlsr" = mean log signal ratio (map x 1000) and
           "madc" = -mean / b, the mean directional ADC (map x 1e6 mm^2/s)
  mixer    TNH then LIN, inputs -> N hidden -> 1: "mix", fixed sine/cosine weights
"""
import argparse
import math
import os
import shutil
import struct
import sys

INFO_HEADER = "# this is information file for using RunTimeNeuralNetwork in heLiXIA"
DATA_HEADER = b"# this is data file of RunTimeNeuralNetwork for heLiXIA\0"
ACTIVATIONS = {"LIN": 0, "ReLU": 1, "SIG": 2, "TNH": 3}
SET_ID = "example-set-1"


def read_mpg(path):
    """(total, b0, b values, directions) of a headed kLS-II or QSA MPG text file."""
    with open(path) as f:
        lines = f.read().split("\n", 1)
    tokens = lines[1].split()
    if lines[0].startswith("#kLS-II"):
        tokens = tokens[6:]  # the two axis rows
    total, b0 = int(tokens[0]), int(tokens[1])
    rows = [float(t) for t in tokens[2:2 + 4 * total]]
    b = rows[0::4]
    g = [tuple(rows[4 * i + 1:4 * i + 4]) for i in range(total)]
    return total, b0, b, g


def networks(inputs, b, hidden):
    """Each network: name, sizes, activations, output names, layers [(W out x in, bias)],
    output parameters (scale, offset, lower, upper)."""
    meanlog = {
        "name": "meanlog", "sizes": [inputs, 2], "acts": ["LIN"], "outputs": ["mlsr", "madc"],
        "layers": [([[1.0 / inputs] * inputs, [-1.0 / (inputs * b)] * inputs], [0.0, 0.0])],
        "params": [(1000.0, 0.0, -32768.0, 32767.0), (1.0e6, 0.0, 0.0, 32767.0)],
    }
    w0 = [[0.5 * math.sin(0.37 * i + 1.1 * o + 0.2) for i in range(inputs)] for o in range(hidden)]
    b0 = [0.1 * math.cos(o) for o in range(hidden)]
    w1 = [[0.25 * math.cos(0.7 * o) for o in range(hidden)]]
    mixer = {
        "name": "mixer", "sizes": [inputs, hidden, 1], "acts": ["TNH", "LIN"], "outputs": ["mix"],
        "layers": [(w0, b0), (w1, [0.5])],
        "params": [(1000.0, 0.0, -32768.0, 32767.0)],
    }
    return [meanlog, mixer]


def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def fmt(x):
    # Nine significant digits give the float32 value back exactly.
    return "%.9g" % f32(x)


def text32(s):
    raw = s.encode()[:31]
    return raw + b"\0" * (32 - len(raw))


def write_set(out, nets, mpg_name, mpg):
    total, b0, b, g = mpg
    info = [INFO_HEADER, SET_ID, str(len(nets))]
    data = bytearray(DATA_HEADER + text32(SET_ID) + struct.pack("<i", len(nets)))
    for net in nets:
        sizes = net["sizes"]
        info.append(net["name"])
        info.append(" ".join(str(v) for v in [len(sizes)] + sizes))
        info.append(" ".join(net["acts"]))
        info.append(" ".join(net["outputs"]))
        data += text32(net["name"]) + struct.pack("<i", len(sizes))
        data += struct.pack("<%di" % len(sizes), *sizes)
        data += struct.pack("<%di" % len(net["acts"]), *[ACTIVATIONS[a] for a in net["acts"]])
        for o in net["outputs"]:
            data += text32(o)
        for l, (w, bias) in enumerate(net["layers"]):
            wname, bname = "%s_w%d.csv" % (net["name"], l), "%s_b%d.csv" % (net["name"], l)
            rows, cols = len(w), len(w[0])
            # CSV: input-major, one line per input neuron.
            with open(os.path.join(out, wname), "w") as f:
                for i in range(cols):
                    f.write(",".join(fmt(w[o][i]) for o in range(rows)) + "\n")
            with open(os.path.join(out, bname), "w") as f:
                f.write("\n".join(fmt(v) for v in bias) + "\n")
            info.append("%s %s" % (wname, bname))
            # Data file: output-major, one row per output neuron.
            for o in range(rows):
                data += struct.pack("<%df" % cols, *w[o])
            data += struct.pack("<%df" % rows, *bias)
        for p in net["params"]:
            info.append(" ".join(fmt(v) for v in p))
            data += struct.pack("<4f", *p)
        info.append(mpg_name)
        data += struct.pack("<ii", total, b0)
        data += struct.pack("<%df" % total, *b)
        for d in g:
            data += struct.pack("<3f", *d)
    with open(os.path.join(out, "example.rtnn.txt"), "w") as f:
        f.write("\n".join(info) + "\n")
    with open(os.path.join(out, "example.rtnn.bin"), "wb") as f:
        f.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mpg", required=True, help="MPG text file the networks take (one b=0 channel)")
    parser.add_argument("--out", required=True, help="output folder")
    parser.add_argument("--hidden", type=int, default=16, help="hidden neurons of 'mixer'")
    args = parser.parse_args()
    mpg = read_mpg(args.mpg)
    total, b0, b, _ = mpg
    if b0 != 1 or b[0] != 0.0:
        sys.exit("make_rtnn_example: the MPG file must have exactly one b=0 channel, first")
    os.makedirs(args.out, exist_ok=True)
    shutil.copyfile(args.mpg, os.path.join(args.out, "input.mpg"))
    write_set(args.out, networks(total - 1, b[1], args.hidden), "input.mpg", mpg)
    print("RTNN example set (%d inputs): %s" % (total - 1, os.path.join(args.out, "example.rtnn.txt")))


if __name__ == "__main__":
    main()
