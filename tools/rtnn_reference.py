#!/usr/bin/python3
"""Independent numpy forward pass of an RTNN set, checked against dtimaps --rtnn maps.

usage: rtnn_reference.py RTNN_FILE DWI_RAW MAPS_DIR [--tolerance 1]

Reads the networks from the information file (CSV weights, input-major) or the data file
(weights output-major) with nothing but struct and numpy, the DWI volume from its raw
volume file, and compares every voxel of rtnn_<network>_<output>.nii in MAPS_DIR with its
own float64 evaluation. Only the matched case is modelled: the DWI data must use the
networks' own gradient table (dtimaps ... --mpg <the networks' MPG file>). Prints the
largest difference per map; exits 1 when any voxel differs by more than the tolerance.
"""
import argparse
import os
import struct
import sys

import numpy as np

INFO_HEADER = "# this is information file for using RunTimeNeuralNetwork in heLiXIA"
DATA_HEADER = b"# this is data file of RunTimeNeuralNetwork for heLiXIA\0"
NAMES = {"LIN": 0, "ReLU": 1, "SIG": 2, "TNH": 3}


def activation(code, x):
    if code == 1:
        return np.where(x > 0, x, 0.0)
    if code == 2:
        return 1.0 / (np.exp(-x) + 1.0)
    if code == 3:
        return np.tanh(x)
    return x


def read_info(path):
    folder = os.path.dirname(path)
    with open(path) as f:
        text = f.read()
    lines = text.split("\n", 2)
    assert lines[0] == INFO_HEADER, "not an information file"
    tok = iter(lines[2].split())
    nets = []
    for _ in range(int(next(tok))):
        name = next(tok)
        count = int(next(tok))
        sizes = [int(next(tok)) for _ in range(count)]
        codes = [NAMES.get(next(tok), -1) for _ in range(count - 1)]
        outputs = [next(tok) for _ in range(sizes[-1])]
        layers = []
        for l in range(count - 1):
            wfile, bfile = next(tok), next(tok)
            w = np.array(open(os.path.join(folder, wfile)).read().replace(",", " ").split(), dtype=np.float32)
            b = np.array(open(os.path.join(folder, bfile)).read().replace(",", " ").split(), dtype=np.float32)
            # Input-major in the file: row i holds the weights from input i.
            layers.append((w.reshape(sizes[l], sizes[l + 1]).T.astype(np.float64), b.astype(np.float64)))
        params = [[float(next(tok)) for _ in range(4)] for _ in range(sizes[-1])]
        next(tok)  # MPG file
        nets.append((name, codes, outputs, layers, np.float32(params).astype(np.float64)))
    return nets


def read_data(path):
    raw = open(path, "rb").read()
    assert raw[:56] == DATA_HEADER, "not a data file"
    pos = 56 + 32
    (count,) = struct.unpack_from("<i", raw, pos)
    pos += 4
    nets = []
    for _ in range(count):
        name = raw[pos:pos + 32].split(b"\0")[0].decode().split()[0]
        pos += 32
        (layers_n,) = struct.unpack_from("<i", raw, pos)
        pos += 4
        sizes = list(struct.unpack_from("<%di" % layers_n, raw, pos))
        pos += 4 * layers_n
        codes = list(struct.unpack_from("<%di" % (layers_n - 1), raw, pos))
        pos += 4 * (layers_n - 1)
        outputs = []
        for _ in range(sizes[-1]):
            outputs.append(raw[pos:pos + 32].split(b"\0")[0].decode())
            pos += 32
        layers = []
        for l in range(layers_n - 1):
            n_w = sizes[l + 1] * sizes[l]
            # Output-major in the data file: row o holds the weights into output o.
            w = np.frombuffer(raw, "<f4", n_w, pos).reshape(sizes[l + 1], sizes[l])
            pos += 4 * n_w
            b = np.frombuffer(raw, "<f4", sizes[l + 1], pos)
            pos += 4 * sizes[l + 1]
            layers.append((w.astype(np.float64), b.astype(np.float64)))
        params = np.frombuffer(raw, "<f4", 4 * sizes[-1], pos).reshape(-1, 4).astype(np.float64)
        pos += 16 * sizes[-1]
        (total, _b0) = struct.unpack_from("<ii", raw, pos)
        pos += 8 + 16 * total
        nets.append((name, codes, outputs, layers, params))
    assert pos == len(raw), "data file length does not match its contents"
    return nets


def read_raw_volume(path):
    raw = open(path, "rb").read()
    lines = raw.split(b"\n", 5)
    x, y, z, ch = (int(v) for v in lines[1].split())
    types = [int(v) for v in lines[2].split()]
    assert all(t == 3 for t in types[:ch]), "only signed 16-bit DWI volumes"
    size = int(lines[4].split()[0])
    data = np.frombuffer(raw[len(raw) - size:], "<i2").reshape(ch, z, y, x)
    return data


def read_nifti_int16(path):
    raw = open(path, "rb").read()
    dims = struct.unpack_from("<8h", raw, 40)
    (datatype,) = struct.unpack_from("<h", raw, 70)
    (offset,) = struct.unpack_from("<f", raw, 108)
    slope, inter = struct.unpack_from("<ff", raw, 112)
    assert datatype == 4, "expected signed 16-bit maps"
    n = dims[1] * dims[2] * dims[3]
    v = np.frombuffer(raw, "<i2", n, int(offset)).reshape(dims[3], dims[2], dims[1]).astype(np.float64)
    if slope not in (0.0, 1.0) or inter != 0.0:
        v = v * (slope if slope != 0.0 else 1.0) + inter
    return v


def threshold(dwi):
    """The background threshold: most frequent channel-0 value of the central box, / 8."""
    _, z, y, x = dwi.shape
    start = [3 * s // 8 for s in (x, y, z)]
    size = [s // 4 for s in (x, y, z)]
    if min(size) == 0:
        start, size = [0, 0, 0], [x, y, z]
    box = dwi[0, start[2]:start[2] + size[2], start[1]:start[1] + size[1], start[0]:start[0] + size[0]]
    values, counts = np.unique(box, return_counts=True)
    return int(values[np.argmax(counts)] / 8)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("rtnn")
    parser.add_argument("dwi")
    parser.add_argument("maps")
    parser.add_argument("--tolerance", type=float, default=1.0)
    args = parser.parse_args()
    nets = read_data(args.rtnn) if open(args.rtnn, "rb").read(56) == DATA_HEADER else read_info(args.rtnn)
    dwi = read_raw_volume(args.dwi).astype(np.float64)
    so = dwi[0]
    mask = so > threshold(dwi.astype(np.int16))
    failed = False
    for name, codes, outputs, layers, params in nets:
        inputs = layers[0][0].shape[1]
        ratio = dwi[1:inputs + 1][:, mask] / so[mask]
        x = np.where(ratio > 0, np.log(np.where(ratio > 0, ratio, 1.0)), -10.0)
        for (w, b), code in zip(layers, codes):
            x = activation(code, w @ x + b[:, None])
        for k, out in enumerate(outputs):
            scale, offset, lower, upper = params[k]
            value = np.clip(np.clip(x[k] * scale + offset, min(lower, upper), max(lower, upper)), -32768, 32767)
            expected = np.zeros(so.shape)
            expected[mask] = np.trunc(value)
            got = read_nifti_int16(os.path.join(args.maps, "rtnn_%s_%s.nii" % (name, out)))
            diff = np.abs(got - expected)
            worst = float(diff.max())
            print("rtnn_%s_%s: %d voxels, largest difference %g" % (name, out, int(mask.sum()), worst))
            failed = failed or worst > args.tolerance
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
