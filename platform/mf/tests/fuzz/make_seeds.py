#!/usr/bin/env python3
"""Writes the seed blobs of the attribute blob fuzzer, straight from the layout in README.md."""
import os
import struct
import uuid

KINDS = {'u32': 19, 'u64': 21, 'f64': 5, 'guid': 72, 'str': 31, 'blob': 0x1011}


def guid_bytes(text):
    return uuid.UUID(text).bytes_le


def item(key, kind, value):
    if kind == 'u32':
        raw = struct.pack('<I', value)
    elif kind == 'u64':
        raw = struct.pack('<Q', value)
    elif kind == 'f64':
        raw = struct.pack('<d', value)
    elif kind == 'guid':
        raw = guid_bytes(value)
    elif kind == 'str':
        raw = value.encode('utf-16-le')
    else:
        raw = value
    return guid_bytes(key) + struct.pack('<HHI', KINDS[kind], 0, len(raw)) + raw


def blob(items):
    body = b''.join(item(*i) for i in items)
    return b'NYXA' + struct.pack('<HHII', 1, 0, 16 + len(body), len(items)) + body


MAJOR = '48eba18e-f8c9-4687-bf11-0a74c9f96a8f'
SUBTYPE = 'f7e34c9a-42e8-4714-b74b-cb29d72c35e5'
FRAME_SIZE = '1652c33d-d6b2-4012-b834-72030849a37d'
FRAME_RATE = 'c459a2e8-3d2c-4e44-b132-fee5156c7bb0'
INDEPENDENT = 'c9173739-5e56-461c-b713-46fb995cb95f'
USER_DATA = 'b6bc765f-4c3b-40a4-bd51-2535b66fe09d'
CLEAN_POINT = '9cdf01d8-a0f0-43ba-b077-eaa06cbd728a'
ARCHIVE_TIME = '3b6bacff-4a87-4f15-ab2b-921af52fc227'
ARCHIVE_DURATION = '7b7dcdf2-2328-4fe0-ad86-2edb763a040b'
VIDEO = '73646976-0000-0010-8000-00aa00389b71'
AUDIO = '73647561-0000-0010-8000-00aa00389b71'
H264 = '34363248-0000-0010-8000-00aa00389b71'
PCM = '00000001-0000-0010-8000-00aa00389b71'

SEEDS = {
    'empty': [],
    'h264-type': [(MAJOR, 'guid', VIDEO), (SUBTYPE, 'guid', H264), (FRAME_SIZE, 'u64', (1920 << 32) | 1080),
                  (FRAME_RATE, 'u64', (25 << 32) | 1), (USER_DATA, 'blob', bytes([0, 0, 0, 1, 0x67, 0x42]))],
    'pcm-type': [(MAJOR, 'guid', AUDIO), (SUBTYPE, 'guid', PCM), (INDEPENDENT, 'u32', 1)],
    'sample': [(CLEAN_POINT, 'u32', 1), (ARCHIVE_TIME, 'u64', 133000000000000000),
               (ARCHIVE_DURATION, 'u64', 400000)],
    'all-kinds': [(MAJOR, 'f64', 29.97), (SUBTYPE, 'str', 'Kamera 1'), (USER_DATA, 'blob', b''),
                  (FRAME_SIZE, 'str', '')],
}

if __name__ == '__main__':
    here = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'corpus')
    os.makedirs(here, exist_ok=True)
    for name, items in SEEDS.items():
        with open(os.path.join(here, name + '.blob'), 'wb') as f:
            f.write(blob(items))
