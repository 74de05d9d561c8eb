# Pillow's BLP writer (python3-pil 9.4) declares an alpha depth for paletted files whose
# levels hold their indices alone. Every reader of ours takes such a level as opaque
# indices: `vellum decode` gives a paletted PNG with the colours Pillow itself reads back.
#   pillow_files_test.py VELLUM
import json
import os
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    sys.exit(77)

vellum = sys.argv[1]
with tempfile.TemporaryDirectory() as work:
    cases = 0
    for size, transparent in (((37, 23), True), ((64, 64), False), ((5, 3), True)):
        w, h = size
        source = Image.new("RGBA", size)
        source.putdata([((x * 7) % 256, (y * 11) % 256, (x * y) % 256, 0 if transparent and (x + y) % 5 == 0 else 255)
                        for y in range(h) for x in range(w)])
        path = os.path.join(work, "pillow-%dx%d.blp" % size)
        source.quantize(256).save(path)
        info = json.loads(subprocess.run([vellum, "info", "--json", path], check=True, capture_output=True,
                                         text=True).stdout)
        level0 = info["levels"][0]
        assert info["alphaDepth"] != 0 and level0["size"] == w * h, info  # the kind of file meant
        png = os.path.join(work, "ours.png")
        subprocess.run([vellum, "decode", "-q", "-f", "-o", png, path], check=True)
        ours = Image.open(png)
        assert ours.mode == "P", ours.mode
        theirs = Image.open(path).convert("RGB")
        assert list(ours.convert("RGB").getdata()) == list(theirs.getdata()), size
        cases += 1
    print("%d Pillow files read as opaque indices with Pillow's colours" % cases)
