#!/usr/bin/env python3
# Window pictures from a private X server without extra packages:
#   xwd-crop.py frame WINDOW_ID          prints "x y width height" of the window's frame
#                                       (its top-level ancestor under the root window)
#   xwd-crop.py crop XWD "x y w h" OUT   cuts that rectangle out of an XWD screen file
#                                       (Xvfb -fbdir) and writes it as PNG
import ctypes, struct, sys, zlib


def frame(window):
    x11 = ctypes.cdll.LoadLibrary('libX11.so.6')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    display = ctypes.c_void_p(x11.XOpenDisplay(None))
    if not display:
        sys.exit('xwd-crop: cannot open the display')
    root, parent = ctypes.c_ulong(), ctypes.c_ulong()
    children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
    top = ctypes.c_ulong(window)
    while True:
        if not x11.XQueryTree(display, top, ctypes.byref(root), ctypes.byref(parent), ctypes.byref(children),
                              ctypes.byref(count)):
            sys.exit('xwd-crop: no such window')
        if children:
            x11.XFree(children)
        if parent.value == root.value or parent.value == 0:
            break
        top = ctypes.c_ulong(parent.value)
    attributes = (ctypes.c_int * 64)()
    x11.XGetWindowAttributes(display, top, attributes)
    x, y, width, height, border = attributes[0:5]
    print(x, y, width + 2 * border, height + 2 * border)


def crop(path, geometry, out):
    x, y, w, h = (int(v) for v in geometry.split())
    data = open(path, 'rb').read()
    fields = struct.unpack('>25I', data[:100])
    header_size, bpp, bytes_per_line = fields[0], fields[11], fields[12]
    width, height, byte_order, ncolors = fields[4], fields[5], fields[7], fields[19]
    if bpp != 32:
        sys.exit('xwd-crop: only 32-bit screens')
    x, y = max(0, x), max(0, y)
    w, h = min(w, width - x), min(h, height - y)
    start = header_size + ncolors * 12
    rows = bytearray()
    for row in range(y, y + h):
        line = data[start + row * bytes_per_line + x * 4:start + row * bytes_per_line + (x + w) * 4]
        rows.append(0)
        if byte_order == 0:  # LSBFirst: B G R X
            for i in range(0, len(line), 4):
                rows += bytes((line[i + 2], line[i + 1], line[i]))
        else:
            for i in range(0, len(line), 4):
                rows += line[i + 1:i + 4]

    def chunk(kind, body):
        return struct.pack('>I', len(body)) + kind + body + struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff)

    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(bytes(rows), 6)) + chunk(b'IEND', b''))
    open(out, 'wb').write(png)


if __name__ == '__main__':
    if sys.argv[1] == 'frame':
        frame(int(sys.argv[2], 0))
    else:
        crop(sys.argv[2], sys.argv[3], sys.argv[4])
