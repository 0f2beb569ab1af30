"""Gathers one row per subject into results/summary.tsv: tensor parameters in the subject's
mask (from dtivoxel stats) and the line count and mean length of its tracks (from tracks.tck).
Missing steps give empty cells."""
import json
import math
import os
import struct

PARAMETERS = (("fa", "FA"), ("adc", "ADC"), ("l1", "L1"), ("l2", "L2"), ("l3", "L3"))


def read_tck(path):
    """Line count from the header, and the lengths in mm of the lines in the file."""
    with open(path, "rb") as f:
        data = f.read()
    end = data.find(b"\nEND\n")
    if not data.startswith(b"mrtrix tracks\n") or end < 0:
        raise ValueError(f"{path} is not a .tck file")
    header = {}
    for line in data[:end].decode("latin-1").splitlines()[1:]:
        key, _, value = line.partition(":")
        header[key.strip()] = value.strip()
    if header.get("datatype") != "Float32LE":
        raise ValueError(f"{path}: datatype {header.get('datatype')} is not Float32LE")
    offset = int(header["file"].split()[1])
    count = int(header.get("count", "0"))
    lengths, length, previous = [], 0.0, None
    for x, y, z in struct.iter_unpack("<3f", data[offset:offset + (len(data) - offset) // 12 * 12]):
        if math.isinf(x):
            break
        if math.isnan(x):
            lengths.append(length)
            length, previous = 0.0, None
            continue
        if previous is not None:
            length += math.dist(previous, (x, y, z))
        previous = (x, y, z)
    return count, lengths


def stats_row(path):
    with open(path) as f:
        stats = json.load(f)
    table = stats.get("parameters", stats)
    row = {}
    for column, name in PARAMETERS:
        entry = table.get(name) or table.get(name.lower()) or {}
        row[f"{column}_mean"] = entry.get("mean", "")
        row[f"{column}_std"] = entry.get("std", "")
    row["voxels"] = stats.get("voxels", "")
    return row


def main(subjects, results, out):
    columns = ["subject"] + [f"{c}_{s}" for c, _ in PARAMETERS for s in ("mean", "std")]
    columns += ["voxels", "lines", "mean_length_mm"]
    rows = []
    for subject in subjects:
        row = {"subject": subject}
        stats = os.path.join(results, subject, "stats", "stats.json")
        if os.path.exists(stats):
            row.update(stats_row(stats))
        tck = os.path.join(results, subject, "tracks", "tracks.tck")
        if os.path.exists(tck):
            count, lengths = read_tck(tck)
            row["lines"] = count
            row["mean_length_mm"] = f"{sum(lengths) / len(lengths):.3f}" if lengths else ""
        rows.append(row)
    temporary = out + ".part"
    with open(temporary, "w") as f:
        f.write("\t".join(columns) + "\n")
        for row in rows:
            f.write("\t".join(str(row.get(c, "")) for c in columns) + "\n")
    os.replace(temporary, out)


if "snakemake" in globals():
    main(snakemake.params.subjects, snakemake.params.results, snakemake.output[0])
