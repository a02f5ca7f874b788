"""Mendora's exemplar fill for NumPy arrays and image files.

    import mendora
    filled = mendora.fill(image, mask)                 # H x W x 3 or 4, uint8 or uint16
    mendora.fill_file("in.jpg", "mask.png", "out.jpg", context=30)

The same fill as ``mendora fill`` on the command line, byte for byte: the plug-in module is
driven through the same host, with the same options, limits and one-line reasons. Values the
command line refuses raise ValueError with its reason, files it cannot read or write OSError,
a fill that runs out of memory MemoryError, any other error the plug-in reports PluginError.

Fills run one at a time in a process (the plug-in module keeps its state in the process): a
fill from a second thread waits for the first. The GIL is released while a fill waits and
while it runs, so the caller's other threads go on. For images at once, use processes:
``mendora batch`` on the command line, or :func:`mendora.dask.fill_all` on a Dask cluster.
"""

import operator
import os
from typing import Callable, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np

from . import _mendora
from ._mendora import LARGEST_RADIUS, MAX_IMAGE_SIDE, MAX_THREADS, PluginError

__all__ = ["fill", "fill_file", "FillSummary", "PluginError", "LARGEST_RADIUS",
           "MAX_IMAGE_SIDE", "MAX_THREADS"]

PathLike = Union[str, "os.PathLike[str]"]
Progress = Callable[[float], None]

# The plug-in module installed with the package (MENDORA_MODULE or module= name another).
_PACKAGED_MODULE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "Zendrel.so")


class FillSummary(NamedTuple):
    """What :func:`fill_file` did, as the command line's summary line says it."""

    width: int
    height: int
    filled: int
    """Pixels the mask selected (and the fill replaced)."""
    seconds: float
    """Seconds of the fill itself (reading and writing the files not counted)."""
    source: Tuple[int, int, int, int]
    """The source rectangle the plug-in kept: left, top, right, bottom (exclusive)."""
    radius: int
    """The patch radius the plug-in kept."""
    notices: Tuple[str, ...]
    """The notices the command line prints (what was converted, what the output dropped)."""


def _arguments(radius, source, context, module, mask_threshold=None, quality=None, band=None,
               source_mask=None, match_tone=False):
    """The command line's option arguments for the keyword options (their values are checked
    by the command line's own code; a value of the wrong type raises TypeError here)."""
    arguments = ["--radius=%d" % operator.index(radius)]
    if band is not None:
        arguments.append("--band=%d" % operator.index(band))
    if source_mask is not None:
        arguments.append("--source-mask=" + os.fspath(source_mask))
    if not isinstance(match_tone, bool):
        raise TypeError("match_tone must be True or False")
    if match_tone:
        arguments.append("--match-tone")
    if source is not None:
        values = tuple(operator.index(value) for value in source)
        if len(values) != 4:
            raise ValueError("source needs four whole numbers (left, top, right, bottom), not %d"
                             % len(values))
        arguments.append("--source=%d,%d,%d,%d" % values)
    if context is not None:
        arguments.append("--context=%d" % operator.index(context))
    if mask_threshold is not None:
        arguments.append("--mask-threshold=%d" % operator.index(mask_threshold))
    if quality is not None:
        arguments.append("--quality=%d" % operator.index(quality))
    if module is None:
        module = os.environ.get("MENDORA_MODULE") or _PACKAGED_MODULE
    arguments.append("--module=" + os.fspath(module))
    return arguments


def _thread_count(threads):
    if threads is None:
        return None
    count = operator.index(threads)
    if count < 1:
        raise ValueError("threads %d is below 1" % count)
    return count


def _check_progress(progress):
    if progress is not None and not callable(progress):
        raise TypeError("progress must be callable with the fraction filled, or None")


def fill(image: np.ndarray, mask: np.ndarray, *, radius: int = 4,
         source: Optional[Sequence[int]] = None, context: Optional[int] = None,
         band: Optional[int] = None, source_mask: Optional[PathLike] = None,
         match_tone: bool = False, threads: Optional[int] = None,
         progress: Optional[Progress] = None,
         module: Optional[PathLike] = None) -> np.ndarray:
    """Fills the pixels of ``image`` that ``mask`` selects with texture from the rest of it.

    image: an H x W x 3 (RGB) or H x W x 4 (RGBA) array of uint8 or uint16, never modified.
    mask: an H x W array of bool or uint8; nonzero selects a pixel to fill.
    radius: the patch radius (default 4, at most LARGEST_RADIUS; 0 or less: the plug-in's
        previous radius, 4 in a fresh process).
    source: the source rectangle (left, top, right, bottom; right and bottom exclusive) that
        texture is copied from; None or (0, 0, 0, 0): the whole image.
    context: instead of source, sample around the selection: its bounding box grown by this
        many pixels on each side (0: the whole image).
    band: sample only within this many pixels of the selection (``--band``).
    source_mask: an image file of the image's size whose nonzero pixels are the only ones
        sampled (``--source-mask``).
    match_tone: after the fill, match its tone to the pixels around it (``--match-tone``;
        off by default: the plug-in's fill as it is).
    threads: the threads of the fill (default: the machine's cores, at most MAX_THREADS, or
        MENDORA_THREADS from the environment); the result is the same on any count.
    progress: called with the fraction of the region filled (0 to 1, rising; 1.0 last when
        the fill completes) at each of the engine's reports, once a fill step, on the thread
        that called fill (the set-up before the first step is not reported). Keep it quick:
        the fill waits for it. An exception it raises stops the fill at its next step and is
        raised by fill; so does Ctrl+C (KeyboardInterrupt) in the main thread.
    module: the plug-in module to load (default MENDORA_MODULE, else the one installed with
        the package).

    Returns a new array of the image's shape and type: what ``mendora fill`` writes into a PNG
    for the same pixels, byte for byte. 16-bit samples are filled through 8 bits (rounded),
    the filled pixels holding the fill's colours times 257 and every other pixel its own
    samples; alpha is kept as it was, the filled pixels with the fill's colours under it.

    Raises TypeError for arguments of the wrong type, ValueError with the command line's
    reason for a value it refuses (a radius above LARGEST_RADIUS, source and context together,
    a mask selecting every pixel, an image side above MAX_IMAGE_SIDE, ...), MemoryError when
    the image is too large for this process's memory or the plug-in runs out of memory, and
    PluginError (a RuntimeError) for any other error the plug-in reports (-30100: no source
    patch fits).
    """
    _check_progress(progress)
    arguments = _arguments(radius, source, context, module, band=band, source_mask=source_mask,
                           match_tone=match_tone)
    count = _thread_count(threads)
    image = np.asarray(image)
    mask = np.asarray(mask)
    if image.ndim != 3 or image.shape[2] not in (3, 4):
        raise ValueError("the image must be H x W x 3 (RGB) or H x W x 4 (RGBA), not %s"
                         % "x".join(str(side) for side in image.shape))
    if image.dtype.kind != "u" or image.dtype.itemsize not in (1, 2):
        raise ValueError("the image's samples must be uint8 or uint16, not %s" % image.dtype)
    if mask.shape != image.shape[:2]:
        raise ValueError("the mask is %s, the image %d x %d (W x H)" % (
            " x ".join(str(side) for side in reversed(mask.shape)), image.shape[1],
            image.shape[0]))
    if mask.dtype != np.bool_ and mask.dtype != np.uint8:
        raise ValueError("the mask must be bool or uint8, not %s" % mask.dtype)
    if image.shape[0] == 0 or image.shape[1] == 0:
        raise ValueError("the image has no pixels")
    # Copies in the machine's byte order; the inputs themselves are never written.
    samples = np.ascontiguousarray(image, dtype=image.dtype.newbyteorder("="))
    marks = np.ascontiguousarray(mask, dtype=np.uint8)
    filled, _ = _mendora.fill(samples, marks, arguments, count, progress)
    return np.frombuffer(filled, dtype=samples.dtype).reshape(image.shape).copy()


def fill_file(input: PathLike, mask: PathLike, output: PathLike, *, radius: int = 4,
              source: Optional[Sequence[int]] = None, context: Optional[int] = None,
              band: Optional[int] = None, source_mask: Optional[PathLike] = None,
              match_tone: bool = False, mask_threshold: int = 1, quality: int = 92,
              threads: Optional[int] = None,
              progress: Optional[Progress] = None,
              module: Optional[PathLike] = None) -> FillSummary:
    """Fills the image file ``input`` where the image file ``mask`` marks and writes ``output``,
    exactly as ``mendora fill INPUT MASK -o OUTPUT`` does: the same formats, orientation,
    colour profile and metadata rules, the output written whole or not at all.

    mask_threshold: the least mask value that selects (1 to 255); quality: JPEG and WebP
    quality (1 to 100); the other options as for :func:`fill`.

    Returns a :class:`FillSummary`. Raises as :func:`fill` does, and OSError (with the file's
    name and the reason) for a file that is missing, unreadable, not an image, damaged, or
    cannot be written. A fill stopped by ``progress`` or Ctrl+C writes nothing.
    """
    _check_progress(progress)
    arguments = _arguments(radius, source, context, module, mask_threshold, quality, band,
                           source_mask, match_tone)
    count = _thread_count(threads)
    summary = _mendora.fill_file(os.fspath(input), os.fspath(mask), os.fspath(output),
                                 arguments, count, progress)
    summary["notices"] = tuple(summary["notices"])
    return FillSummary(**summary)
