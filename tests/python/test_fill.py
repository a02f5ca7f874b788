"""mendora.fill and mendora.fill_file against the command line: the same bytes, the same
refusals, inputs untouched, the GIL released while a fill waits and runs."""

import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import mendora
from conftest import DEMO, disc, read_png, run_program, textured, write_png

H, W = 36, 48


@pytest.mark.parametrize("channels,sixteen,extra", [
    (3, False, False), (3, True, False), (4, False, False), (4, True, False),
    (3, False, True), (4, True, True)])
def test_fill_gives_the_command_lines_png_bytes(tmp_path, channels, sixteen, extra):
    image = textured(H, W, channels, sixteen=sixteen)
    if channels == 4:
        # Alpha of every kind: opaque, partial, and transparent pixels outside the selection.
        image[:, :, 3] = (np.arange(W) * (65535 if sixteen else 255) // (W - 1))[None, :]
    mask = disc(H, W, 20, 15, 5)
    before = image.copy()
    # With the options around the fill: a band, a source mask and the tone matched.
    area = np.ones((H, W), np.uint8) * 255
    area[:, 30:] = 0
    write_png(tmp_path / "area.png", area)
    options = {"band": 12, "source_mask": tmp_path / "area.png", "match_tone": True}
    arguments = ["--band", 12, "--source-mask", tmp_path / "area.png", "--match-tone"]
    filled = mendora.fill(image, mask, radius=3, **(options if extra else {}))
    assert np.array_equal(image, before)
    write_png(tmp_path / "in.png", image)
    write_png(tmp_path / "mask.png", mask.astype(np.uint8) * 255)
    status, err = run_program("fill", tmp_path / "in.png", tmp_path / "mask.png", "-o",
                              tmp_path / "out.png", "--radius", 3, "--quiet",
                              *(arguments if extra else []))
    assert status == 0, err
    written = read_png(tmp_path / "out.png")
    assert filled.dtype == image.dtype and filled.shape == image.shape
    assert np.array_equal(filled, written)
    assert not np.array_equal(filled[mask], image[mask])
    assert np.array_equal(filled[~mask], image[~mask])


def test_views_byte_orders_and_threads_give_the_same_fill():
    image = textured(H, W * 2, sixteen=True)
    mask = np.zeros((H, W * 2), np.uint8)
    mask[10:18, 20:30] = 7
    view, marks = image[:, ::2], mask[:, ::2]  # neither is contiguous
    plain = mendora.fill(np.ascontiguousarray(view), marks != 0)
    assert np.array_equal(mendora.fill(view, marks), plain)
    assert np.array_equal(mendora.fill(view.astype(">u2"), marks), plain)
    before = os.environ.get("MENDORA_THREADS")
    for threads in (1, 2, 8):
        assert np.array_equal(mendora.fill(view, marks, threads=threads), plain)
    assert os.environ.get("MENDORA_THREADS") == before
    # source and context are typed into the dialog as the command line types them.
    around = mendora.fill(view, marks, context=12)
    assert np.array_equal(around, mendora.fill(view, marks, source=(0, 0, 27, 30)))
    assert not np.array_equal(around, plain)


def test_refusals_are_the_command_lines(tmp_path):
    image, mask = textured(H, W), disc(H, W, 20, 15, 5)
    write_png(tmp_path / "in.png", image)
    write_png(tmp_path / "mask.png", mask.astype(np.uint8) * 255)
    for options, arguments in [({"radius": 22}, ["--radius", "22"]),
                               ({"radius": 70000}, ["--radius", "70000"]),
                               ({"context": 40000}, ["--context", "40000"]),
                               ({"source": (0, 0, 1, 1), "context": 3},
                                ["--source", "0,0,1,1", "--context", "3"])]:
        with pytest.raises(ValueError) as refused:
            mendora.fill(image, mask, **options)
        status, err = run_program("fill", tmp_path / "in.png", tmp_path / "mask.png", "-o",
                                  tmp_path / "o.png", *arguments)
        assert status == 2 and str(refused.value) in err, (refused.value, err)
    with pytest.raises(ValueError, match="the mask selects every pixel"):
        mendora.fill(image, np.ones((H, W), bool))
    with pytest.raises(ValueError, match="the mask is 47 x 36, the image 48 x 36"):
        mendora.fill(image, mask[:, 1:])
    for wrong in (image[:, :, :2], image.astype(np.float32), image[:, :, 0]):
        with pytest.raises(ValueError):
            mendora.fill(wrong, mask)
    with pytest.raises(TypeError):
        mendora.fill(image, mask, radius="4")
    with pytest.raises(TypeError):
        mendora.fill(image, mask, progress=5)
    with pytest.raises(ValueError):
        mendora.fill(image, mask, threads=0)
    # The plug-in's own refusal: no source patch fits.
    with pytest.raises(mendora.PluginError, match=r"bad parameters \(-30100\)"):
        mendora.fill(image, mask, source=(0, 0, 3, 3))
    assert not os.path.exists(tmp_path / "o.png")


def test_fill_file_writes_what_the_command_line_writes(tmp_path):
    kite, kite_mask = os.path.join(DEMO, "kite.jpg"), os.path.join(DEMO, "kite-mask.png")
    for name in ("module.png", "module.jpg"):
        summary = mendora.fill_file(kite, kite_mask, tmp_path / name, context=30, quality=80)
        status, err = run_program("fill", kite, kite_mask, "-o", tmp_path / ("cli-" + name),
                                  "--context", 30, "--quality", 80, "--quiet")
        assert status == 0, err
        assert (tmp_path / name).read_bytes() == (tmp_path / ("cli-" + name)).read_bytes()
    assert summary.width == 640 and summary.height == 400 and summary.filled == 1416
    assert summary.radius == 4 and summary.source[2] - summary.source[0] < 640
    # What the command line says it drops, the summary's notices say.
    rgba = textured(H, W, 4)
    write_png(tmp_path / "rgba.png", rgba)
    write_png(tmp_path / "mask.png", disc(H, W, 20, 15, 5).astype(np.uint8))
    notices = mendora.fill_file(tmp_path / "rgba.png", tmp_path / "mask.png",
                                tmp_path / "rgba.jpg").notices
    assert any("alpha dropped" in notice for notice in notices)
    with pytest.raises(OSError, match="missing.png: No such file"):
        mendora.fill_file(tmp_path / "missing.png", tmp_path / "mask.png", tmp_path / "x.png")
    with pytest.raises(ValueError, match="must end in .png"):
        mendora.fill_file(kite, kite_mask, tmp_path / "x.bmp")
    with pytest.raises(ValueError, match="output names the mask"):
        mendora.fill_file(kite, kite_mask, kite_mask)
    assert not os.path.exists(tmp_path / "x.png")


def run_python(script, limit=None):
    """Runs SCRIPT in a fresh Python (this one) with the address space limited to LIMIT bytes;
    returns its output. A run that hangs fails after a minute."""
    prefix = ("import resource\nresource.setrlimit(resource.RLIMIT_AS, (%d, %d))\n"
              % (limit, limit)) if limit else ""
    done = subprocess.run([sys.executable, "-c", prefix + textwrap.dedent(script)],
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_memory_beyond_the_process_raises_memory_error(tmp_path):
    header = tmp_path / "huge.png"
    # A 32767 x 32767 PNG's header: refused from it, before anything is decoded.
    write_png(header, np.zeros((1, 1), np.uint8))
    data = bytearray(header.read_bytes())
    data[16:24] = (32767).to_bytes(4, "big") * 2
    data[29:33] = __import__("zlib").crc32(bytes(data[12:29])).to_bytes(4, "big")
    header.write_bytes(bytes(data))
    out = run_python("""
        import numpy as np, mendora
        for call in (lambda: mendora.fill(np.zeros((20000, 20000, 3), np.uint8),
                                          np.zeros((20000, 20000), np.uint8)),
                     lambda: mendora.fill_file(%r, %r, %r)):
            try:
                call()
            except MemoryError as error:
                print("MemoryError:", error)
        """ % (str(header), str(header), str(tmp_path / "o.png")), limit=4 << 30)
    lines = out.splitlines()
    assert len(lines) == 2, out
    assert "20000 x 20000 needs at least 4577 MB to fill, more than the 4096 MB" in lines[0]
    assert "32767 x 32767 needs at least" in lines[1] and "MB to read and fill" in lines[1]


def test_a_fill_waits_and_runs_without_the_gil():
    # While the test holds the turn of every fill, a fill started in a thread must wait for it
    # without the GIL: this thread can then see it waiting and let it go. Held with the GIL,
    # the wait would stop this thread for ever (the subprocess's timeout fails the test).
    out = run_python("""
        import threading, time
        import numpy as np, mendora
        from mendora import _mendora
        image = np.zeros((30, 40, 3), np.uint8)
        image[:, ::2] = 200
        mask = np.zeros((30, 40), bool)
        mask[10:14, 10:14] = True
        results = []
        _mendora._hold_runs()
        worker = threading.Thread(target=lambda: results.append(mendora.fill(image, mask)))
        worker.start()
        while _mendora._waiting_runs() == 0:
            time.sleep(0.01)
        ticks = sum(1 for _ in range(100000))  # Python runs while the fill waits
        _mendora._release_runs()
        worker.join()
        print(ticks, len(results), results[0][12, 12].tolist())
        """)
    assert out.split()[:2] == ["100000", "1"], out


def test_progress_rises_to_the_end_and_a_raise_stops_the_fill(tmp_path):
    image, mask = textured(H, W), disc(H, W, 20, 15, 5)
    fractions = []
    filled = mendora.fill(image, mask, progress=fractions.append)
    assert np.array_equal(filled, mendora.fill(image, mask))
    assert len(fractions) > 3 and fractions[-1] == 1.0
    assert all(0 <= a <= b for a, b in zip(fractions, fractions[1:]))

    # A raise in the third report stops the fill at its next step, and comes out of the call.
    class Stop(Exception):
        pass

    def stop_at_third(fraction, seen=[]):
        seen.append(fraction)
        if len(seen) == 3:
            raise Stop(fraction)

    with pytest.raises(Stop):
        mendora.fill(image, mask, progress=stop_at_third)
    write_png(tmp_path / "in.png", image)
    write_png(tmp_path / "mask.png", mask.astype(np.uint8))
    with pytest.raises(KeyboardInterrupt):
        mendora.fill_file(tmp_path / "in.png", tmp_path / "mask.png", tmp_path / "out.png",
                          progress=lambda fraction: (_ for _ in ()).throw(KeyboardInterrupt))
    assert sorted(os.listdir(tmp_path)) == ["in.png", "mask.png"]
    # The next fill runs as if nothing had happened.
    assert np.array_equal(mendora.fill(image, mask), filled)
