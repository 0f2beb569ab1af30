#!/usr/bin/python3
"""Writes a small series of single-slice MR DICOM files with pydicom for the import tests.

Voxel (i, j) of slice s of channel c holds 1000*c + 100*s + 10*j + i, so every value tells
where it came from. Files are numbered (Instance Number) channel by channel from 1.
"""
import argparse
import os
import shlex
import sys

import numpy as np
import pydicom
from pydicom.dataset import Dataset, FileMetaDataset
from pydicom.sequence import Sequence
from pydicom.uid import ExplicitVRLittleEndian, ImplicitVRLittleEndian, generate_uid


def optional_float(text):
    return None if text == "none" else float(text)


def parse_args(argv=None):
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--channels", type=int, default=2)
    p.add_argument("--slices", type=int, default=3)
    p.add_argument("--cols", type=int, default=8)
    p.add_argument("--rows", type=int, default=8)
    p.add_argument("--implicit", action="store_true")
    p.add_argument("--preamble", choices=["standard", "none", "marker-first"],
                   default="standard")
    p.add_argument("--slice-step", type=float, default=2.0,
                   help="distance between neighbouring Image Positions in mm")
    p.add_argument("--spacing-between-slices", type=optional_float, default=2.0)
    p.add_argument("--pixel-spacing", type=float, default=1.0)
    p.add_argument("--fov", type=optional_float, default=8.0,
                   help="Reconstruction Diameter in mm, or none")
    p.add_argument("--descending", action="store_true",
                   help="slice positions go down in z from file to file")
    p.add_argument("--numbers", default="",
                   help="comma-separated Instance Numbers instead of 1..N")
    p.add_argument("--reverse-names", action="store_true",
                   help="name files so that byte order is the reverse of Instance Number order")
    p.add_argument("--sequence", choices=["off", "defined", "undefined"], default="off",
                   help="add a Referenced Image Sequence that holds decoy elements")
    p.add_argument("--long-text", action="store_true",
                   help="add a UT element (32-bit length in explicit VR)")
    p.add_argument("--bits", type=int, default=16)
    p.add_argument("--no-description", action="store_true")
    p.add_argument("--no-position", default="",
                   help="comma-separated Instance Numbers whose files lack Image Position")
    p.add_argument("--values", default="",
                   help="a 4-D signed 16-bit NIfTI image whose channels and slices the series "
                        "holds instead of the coded values (sets --channels, --slices, --cols, "
                        "--rows)")
    args = p.parse_args(argv)
    args.image = None
    if args.values:
        import nibabel
        args.image = np.asanyarray(nibabel.load(args.values).dataobj).astype(np.int16)
        if args.image.ndim == 3:
            args.image = args.image[..., np.newaxis]
        args.cols, args.rows, args.slices, args.channels = args.image.shape
        if args.fov is not None:
            args.fov = args.cols * args.pixel_spacing
    return args


def pixel_values(args, channel, slice_index):
    if args.image is not None:
        # Rows run along y and columns along x, as the import reads them.
        return np.ascontiguousarray(args.image[:, :, slice_index, channel].T)
    j, i = np.mgrid[0:args.rows, 0:args.cols]
    values = 1000 * channel + 100 * slice_index + 10 * j + i
    if args.bits == 8:
        return (values % 256).astype(np.uint8)
    return values.astype(np.int16)


def make_dataset(args, number, channel, slice_index):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = "1.2.840.10008.5.1.4.1.1.4"
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ImplicitVRLittleEndian if args.implicit else ExplicitVRLittleEndian

    ds = Dataset()
    ds.file_meta = meta
    ds.is_little_endian = True
    ds.is_implicit_VR = args.implicit
    ds.SOPClassUID = meta.MediaStorageSOPClassUID
    ds.SOPInstanceUID = meta.MediaStorageSOPInstanceUID
    ds.Modality = "MR"
    if not args.no_description:
        ds.InstitutionName = "General Hospital"
        ds.StudyDate = "20240131"
        ds.PatientID = "PID00042"
        ds.PatientName = "Doe^Jane"
        ds.Manufacturer = "ACME"
        ds.ManufacturerModelName = "Model 3T"
    ds.InstanceNumber = number
    step = -args.slice_step if args.descending else args.slice_step
    if str(number) not in args.no_position.split(","):
        ds.ImagePositionPatient = [-4.0, -4.0, 10.0 + step * slice_index]
    if args.spacing_between_slices is not None:
        ds.SpacingBetweenSlices = args.spacing_between_slices
    if args.fov is not None:
        ds.ReconstructionDiameter = args.fov
    ds.PixelSpacing = [args.pixel_spacing, args.pixel_spacing]
    ds.Rows = args.rows
    ds.Columns = args.cols
    ds.SamplesPerPixel = 1
    ds.PhotometricInterpretation = "MONOCHROME2"
    ds.BitsAllocated = args.bits
    ds.BitsStored = args.bits
    ds.HighBit = args.bits - 1
    ds.PixelRepresentation = 1 if args.bits == 16 else 0

    if args.sequence != "off":
        # Decoys: a reader that walked into the sequence would see these first.
        item = Dataset()
        item.ReferencedSOPClassUID = ds.SOPClassUID
        item.ReferencedSOPInstanceUID = generate_uid()
        item.InstanceNumber = 777
        item.Rows = 3
        item.Columns = 3
        if args.sequence == "undefined":
            item.is_undefined_length_sequence_item = True
        ds.ReferencedImageSequence = Sequence([item])
        if args.sequence == "undefined":
            ds["ReferencedImageSequence"].is_undefined_length = True
    if args.long_text:
        ds.add_new(0x0040A160, "UT", "T" * 300)

    ds.PixelData = pixel_values(args, channel, slice_index).tobytes()
    return ds


def write(args, ds, path):
    if args.preamble == "none":
        ds.preamble = None
        ds.file_meta = FileMetaDataset()
        pydicom.dcmwrite(path, ds, write_like_original=True)
        return
    ds.preamble = b"\0" * 128
    pydicom.dcmwrite(path, ds, write_like_original=False)
    if args.preamble == "marker-first":
        with open(path, "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data[128:])


def write_series(args):
    os.makedirs(args.out, exist_ok=True)
    total = args.channels * args.slices
    numbers = [int(n) for n in args.numbers.split(",")] if args.numbers else list(range(1, total + 1))
    for index, number in enumerate(numbers):
        channel, slice_index = divmod(index, args.slices)
        ds = make_dataset(args, number, channel, slice_index)
        name_index = len(numbers) - index if args.reverse_names else index + 1
        write(args, ds, os.path.join(args.out, "IM%04d" % name_index))


def main():
    # --batch BASE JOBS: every line of JOBS is "name [options]"; the series goes to BASE/name.
    if len(sys.argv) == 4 and sys.argv[1] == "--batch":
        base, jobs = sys.argv[2], sys.argv[3]
        with open(jobs) as f:
            for line in f:
                words = shlex.split(line)
                if words:
                    write_series(parse_args([os.path.join(base, words[0])] + words[1:]))
        return
    write_series(parse_args())


if __name__ == "__main__":
    main()
