#!/usr/bin/python3
"""Draws the library tree pictures into icons/ (run again after a change)."""
import math, os, struct, zlib

S = 32

def png(path, pixels, size):
    raw = b''.join(b'\0' + bytes(c for px in row for c in px) for row in pixels)
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)
    with open(path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))

def rounded(x, y, r=6, m=1):
    cx = min(max(x, m + r), S - 1 - m - r); cy = min(max(y, m + r), S - 1 - m - r)
    return (x - cx) ** 2 + (y - cy) ** 2 <= r * r

def note(x, y):
    return ((x - 11) ** 2 + (y - 22) ** 2 <= 12) or (13 <= x <= 14 and 8 <= y <= 22) or (13 <= x <= 21 and 8 <= y <= 10 + (x - 13) // 3)
def folder(x, y):
    return (7 <= x <= 25 and 11 <= y <= 24) or (7 <= x <= 14 and 8 <= y <= 11)
def gear(x, y):
    d = math.hypot(x - 16, y - 16); a = math.atan2(y - 16, x - 16)
    return d <= 6 + 2 * (math.cos(8 * a) > 0) and d >= 3
def film(x, y):
    return 8 <= x <= 24 and 8 <= y <= 24 and not (10 <= x <= 22 and (y % 4 == 0))
def disc(x, y):
    d = math.hypot(x - 16, y - 16); return 3 <= d <= 9
def star(x, y):
    a = math.atan2(y - 16, x - 16); r = 5 + 4 * abs(math.cos(2.5 * a)); return math.hypot(x - 16, y - 16) <= r
def grid(x, y):
    return 7 <= x <= 25 and 7 <= y <= 25 and (x - 7) % 7 < 5 and (y - 7) % 7 < 5
def frame(x, y):
    return 7 <= x <= 25 and 9 <= y <= 23 and not (9 <= x <= 23 and 11 <= y <= 21)
def face(x, y):
    d = math.hypot(x - 16, y - 16)
    return 7 <= d <= 9 or math.hypot(x - 13, y - 14) <= 1.5 or math.hypot(x - 19, y - 14) <= 1.5 or (12 <= x <= 20 and y == 20)
def book(x, y):
    return 8 <= x <= 24 and 7 <= y <= 25 and not (x == 16)
def cloud(x, y):
    return math.hypot(x - 12, y - 18) <= 5 or math.hypot(x - 19, y - 15) <= 6 or (12 <= x <= 21 and 18 <= y <= 22)
def flag(x, y):
    return (9 <= x <= 10 and 7 <= y <= 25) or (11 <= x <= 22 and 8 <= y <= 15)
def clock(x, y):
    d = math.hypot(x - 16, y - 16); return 7 <= d <= 9 or (x == 16 and 10 <= y <= 16) or (y == 16 and 16 <= x <= 20)
def calendar(x, y):
    return grid(x, y) or (7 <= x <= 25 and 5 <= y <= 7)
def letter(ch):
    glyphs = {'f': lambda x, y: (13 <= x <= 15 and 9 <= y <= 24) or (13 <= x <= 21 and 9 <= y <= 11) or (13 <= x <= 19 and 15 <= y <= 16),
              'F': lambda x, y: (11 <= x <= 20 and y % 1 == 0 and math.hypot(x - 11, y - 16) <= 5) or math.hypot(x - 21, y - 16) <= 5}
    return glyphs[ch]

ICONS = {
    'iTunesLibrary': ((70, 110, 200), note), 'iTunesFolder': ((120, 140, 160), folder),
    'iTunesSmartPlaylist': ((140, 90, 190), gear), 'iTunesVideos': ((60, 60, 70), film),
    'iTunesPlaylist': ((60, 150, 200), note), 'iTunesPodcasts': ((150, 70, 180), disc),
    'iTunesPurchased': ((40, 150, 90), star), 'iTunesPartyShuffle': ((220, 120, 40), star),
    'unknown-album-art': ((170, 170, 175), disc),
    'iPhotoLibrary': ((80, 140, 90), grid), 'iPhotoLastImport': ((90, 120, 170), clock),
    'iPhotoFlagged': ((210, 120, 40), flag), 'iPhotoRegularAlbum': ((120, 120, 130), frame),
    'iPhotoSmartAlbum': ((140, 90, 190), gear), 'iPhotoSpecialRoll': ((70, 150, 140), clock),
    'iPhotoCalendar': ((190, 70, 70), calendar), 'iPhotoBook': ((150, 100, 60), book),
    'iPhotoFolder': ((120, 140, 160), folder), 'iPhotoEventOutline': ((200, 170, 60), frame),
    'iPhotoFaces': ((200, 140, 110), face), 'iPhotoAlbums': ((100, 100, 120), grid),
    'iPhotoEvent': ((200, 170, 60), grid), 'iPhotoFacesFolder': ((170, 120, 100), face),
    'iPhotoCloud': ((90, 150, 210), cloud), 'iPhotoFlickr': ((220, 60, 130), disc),
    'iPhotoFacebook': ((60, 90, 160), letter('f')), 'iPhotoSubscribedAlbum': ((70, 160, 160), cloud),
}

os.makedirs(os.path.join(os.path.dirname(__file__), 'icons'), exist_ok=True)
for name, (colour, shape) in ICONS.items():
    rows = []
    for y in range(S):
        row = []
        for x in range(S):
            if not rounded(x, y):
                row.append((0, 0, 0, 0))
            elif shape(x, y):
                row.append((255, 255, 255, 255))
            else:
                row.append(colour + (255,))
        rows.append(row)
    png(os.path.join(os.path.dirname(__file__), 'icons', name + '.png'), rows, S)
