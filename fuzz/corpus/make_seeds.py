#!/usr/bin/env python3
"""Writes the seed inputs of the experimental-data, image-series and NIfTI fuzz targets into
fuzz/corpus/<target>/: small valid files with the leading bytes each target reads first."""
import gzip
import math
import os
import struct

here = os.path.dirname(os.path.abspath(__file__))


def put(target, name, data):
    folder = os.path.join(here, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def cube(edge, scale):
    """A cube of big-endian 32-bit floats, x fastest."""
    return b"".join(struct.pack(">f", scale * (1 + i % 7)) for i in range(edge ** 3))


def with_length(text):
    return struct.pack(">H", len(text)) + text


# Experimental data: byte 0 = (last run << 6) | (points - 1), then the table.
fid = "".join(f"{math.cos(0.3 * k) * math.exp(-0.05 * k):.6f} {math.sin(0.3 * k) * math.exp(-0.05 * k):.6f}\n"
              for k in range(16)).encode()
put("experimental_data", "sixteen_points", bytes([15]) + fid)
put("experimental_data", "zero_filled_two_runs", bytes([(1 << 6) | 31]) + fid)
put("experimental_data", "comment_and_blank", bytes([7]) + b"# a measured FID\n\n1.0 0.0\n0.5 -0.25\n")

# Image series: byte 0 = mode (0 folder of two cubes, 1 series description), byte 1 = block.
put("image_series", "folder_whole", bytes([0, 0]) + cube(3, 1.0) + cube(3, 2.0))
put("image_series", "folder_block_1x2x1", bytes([0, 1 | (2 << 2) | (1 << 4)]) + cube(4, 1.0) + cube(4, 3.0))
lines = b"T1_05_TR3000_image_01\nT1_20_TR3000_image_02\nT1_10_TR3000_image_03\n"
put("image_series", "description_three", bytes([1, 0]) + with_length(lines) +
    cube(2, 1.0) + cube(2, 2.0) + cube(2, 4.0))


def nifti(dims, datatype, bitpix, values_format, values, descrip=b"seed"):
    """A single-file NIfTI-1 volume (.nii): 348-byte header, 4 bytes of no extension, the data."""
    dim = [len(dims)] + list(dims) + [1] * (7 - len(dims))
    header = bytearray(348)
    struct.pack_into("<i", header, 0, 348)
    struct.pack_into("<8h", header, 40, *dim)
    struct.pack_into("<hh", header, 70, datatype, bitpix)
    struct.pack_into("<8f", header, 76, 1.0, 1.0, 1.0, 1.0, 1.0, 0, 0, 0)
    struct.pack_into("<f", header, 108, 352.0)  # vox_offset
    struct.pack_into("<f", header, 112, 1.0)    # scl_slope
    header[148:148 + len(descrip)] = descrip
    header[344:348] = b"n+1\0"
    return bytes(header) + b"\0\0\0\0" + struct.pack("<" + values_format * len(values), *values)


side = b"flip_angles_deg: 5,20\ntr_ms: 3\n"
put("nifti", "float32_2x2x2x2", with_length(side) +
    nifti([2, 2, 2, 2], 16, 32, "f", [float(1 + i) for i in range(16)]))
put("nifti", "int16_3x1x1x2_two_trs", with_length(b"flip_angles_deg: 3,8\ntr_ms: 3,4\n") +
    nifti([3, 1, 1, 2], 4, 16, "h", [10, 20, 30, 40, 50, 60]))
put("nifti", "float32_3d_one_angle", with_length(b"flip_angles_deg: 10\ntr_ms: 5\n") +
    nifti([2, 2, 1], 16, 32, "f", [1.0, 2.0, 3.0, 4.0]))

# An ANALYZE-style header (no magic) with a negative data offset: refused before the data are read.
analyze = bytearray(nifti([2, 2, 2, 2], 16, 32, "f", [float(1 + i) for i in range(16)]))
struct.pack_into("<f", analyze, 108, -1e30)
analyze[344:348] = bytes(4)
put("nifti", "analyze_negative_offset", with_length(side) + bytes(analyze[:360]))

# Compressed volumes (top bit of the first byte): a whole one, one cut in its data, and a small one
# whose header claims 2^28 voxels. The reader decompresses to count before it loads.
def compressed(text, volume):
    return bytes([0x80 | (len(text) >> 8), len(text) & 0xFF]) + text + gzip.compress(volume, mtime=0)


whole = nifti([2, 2, 2, 2], 16, 32, "f", [float(1 + i) for i in range(16)])
put("nifti", "gz_float32_2x2x2x2", compressed(side, whole))
cut = gzip.compress(whole, mtime=0)
put("nifti", "gz_cut", bytes([0x80, len(side)]) + side + cut[:len(cut) // 2])
put("nifti", "gz_claims_2_28_voxels", compressed(side, nifti([1024, 1024, 256, 1], 16, 32, "f", [])))
