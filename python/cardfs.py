"""cardfs for Python: a ctypes binding over the library's C interface.

    import cardfs
    with cardfs.Volume.card("card", create=True) as vol:  # ./card/USERIMG.BIN
        vol.write("NOTES.001", b"hello")
        print([(e.name, e.size) for e in vol.files()])
        vol.write_track("TRACK.001", [cardfs.TrackPoint(coord1=10, coord2=20)])

No build step: the module loads the shared library libcardfs.so (and the
stand-in libraries beside it that simulate the card programmer and the
diskette drives) from, in this order, the path in the environment variable
CARDFS_LIBRARY, the build/ folder of the source tree this file sits in, and
the system's library path (an installed cardfs).

The library keeps one device table and one current volume per process, so
one Volume is open at a time; opening another closes the first. Every
failure raises CardfsError (or its subclasses NotFound and Exists, which
are also FileNotFoundError and FileExistsError) carrying the library's
status and its text.
"""
import ctypes
import ctypes.util
import dataclasses
import os
from typing import List, Optional

__all__ = ["CardfsError", "NotFound", "Exists", "Volume", "Entry", "Capacity",
           "MerRecord", "TrackPoint", "CHIPS", "status_text"]

OK = -1
_STATUS_TEXT = {
    -2: "the directory is full",
    -3: "the medium is full",
    -4: "no such file",
    -5: "the file exists",
    -6: "no volume on the medium",
    -8: "the volume's format version is too new",
    -10: "a block did not verify after writing",
    -17: "the medium carries a foreign format",
    -18: "no device or no medium",
    -43: "the medium is write-protected",
    -44: "the card image file cannot be written",
    -51: "too many files open",
    -52: "the names are on different devices",
    -55: "the name gives an unknown device",
    -56: "the file is not open",
    -57: "the file ended early",
    -58: "no device table",
    -59: "a file is already open for writing",
    -60: "the directory scan is not open",
    -100: "input/output error",
    -101: "the medium is not recognised",
    -102: "the medium was changed",
    -103: "invalid argument",
    -104: "a value is out of range",
}


def status_text(status: int) -> str:
    """The library's status in words."""
    return _STATUS_TEXT.get(status, "status %d" % status)


class CardfsError(Exception):
    """A call of the library failed; status is the library's code."""

    def __init__(self, status: int, what: str = ""):
        self.status = status
        self.text = status_text(status)
        super().__init__("%s: %s" % (self.text, what) if what else self.text)


class NotFound(CardfsError, FileNotFoundError):
    pass


class Exists(CardfsError, FileExistsError):
    pass


def _error(status: int, what: str = "") -> CardfsError:
    kind = {-4: NotFound, -5: Exists}.get(status, CardfsError)
    return kind(status, what)


def _check(status: int, what: str = "") -> None:
    if status != OK:
        raise _error(status, what)


# --- the C types ---------------------------------------------------------------

class _DirEntry(ctypes.Structure):
    _fields_ = [("extension", ctypes.c_uint16), ("firstBlock", ctypes.c_uint16),
                ("name", ctypes.c_char * 8), ("blockCount", ctypes.c_uint16),
                ("reserved", ctypes.c_uint16)]


class _DirScan(ctypes.Structure):
    _fields_ = [("block", ctypes.c_uint8 * 1024), ("entry", ctypes.c_void_p),
                ("device", ctypes.c_void_p), ("startBlock", ctypes.c_uint16),
                ("currentBlock", ctypes.c_uint16), ("entryIndex", ctypes.c_int16)]


class _FileInfo(ctypes.Structure):
    _fields_ = [("device", ctypes.c_void_p), ("buffer", ctypes.c_uint8 * 1024),
                ("scan", _DirScan), ("bufferBlock", ctypes.c_uint16),
                ("position", ctypes.c_int16), ("limit", ctypes.c_int16),
                ("blocksDone", ctypes.c_int16)]


class _MER(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint8), ("coord1", ctypes.c_int32), ("coord2", ctypes.c_int32),
                ("text1", ctypes.c_char * 40), ("text2", ctypes.c_char * 40),
                ("byte1", ctypes.c_int8), ("word1", ctypes.c_int16), ("byte2", ctypes.c_int8),
                ("byte3", ctypes.c_int8), ("byte4", ctypes.c_int8), ("time", ctypes.c_int32),
                ("byte5", ctypes.c_int8), ("word2", ctypes.c_int16), ("byte6", ctypes.c_int8),
                ("dword1", ctypes.c_uint32), ("byte7", ctypes.c_int8), ("word3", ctypes.c_int16),
                ("year", ctypes.c_uint16), ("flag", ctypes.c_uint8), ("word4", ctypes.c_int16),
                ("seconds", ctypes.c_uint8)]


class _Track(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint8), ("coord1", ctypes.c_int32), ("coord2", ctypes.c_int32),
                ("byte1", ctypes.c_int8), ("byte2", ctypes.c_int8), ("byte3", ctypes.c_int8),
                ("byte4", ctypes.c_int8), ("word1", ctypes.c_int16), ("dword1", ctypes.c_uint32),
                ("word2", ctypes.c_uint16), ("dword2", ctypes.c_uint32), ("word3", ctypes.c_uint16),
                ("word4", ctypes.c_uint16)]


class _Head(ctypes.Structure):
    _fields_ = [("size", ctypes.c_uint8), ("flags1", ctypes.c_uint8), ("value16", ctypes.c_uint16),
                ("flags2", ctypes.c_uint8), ("value32", ctypes.c_uint32)]


assert ctypes.sizeof(_MER) == 128 and ctypes.sizeof(_Track) == 36 and ctypes.sizeof(_Head) == 12

# --- loading the libraries ------------------------------------------------------

_P, _I16, _I32, _U16, _U32 = ctypes.c_void_p, ctypes.c_int16, ctypes.c_int32, ctypes.c_uint16, ctypes.c_uint32
_SIGNATURES = {
    "FS_SetDeviceTable": (_I16, [_P]), "FS_Init": (_I16, [ctypes.c_char_p]),
    "FS_Format": (_I16, [ctypes.c_char_p]), "FS_Test": (_I16, [ctypes.c_char_p]),
    "GetErrno": (_I32, []),
    "FS_TotalBlocks": (_I16, []), "FS_BlocksUsed": (_I16, []), "FS_BlocksFree": (_I16, []),
    "FS_BlockSize": (_U16, []), "FS_SpaceFree": (_I32, []), "FS_DeviceSize": (_I32, []),
    "FS_OpenDir": (_I16, [_P, _P]), "FS_ReadDir": (_I16, [_P]), "FS_GetDirEntry": (_I16, [_P, _P]),
    "FS_CloseDir": (_I16, [_P]), "BuildFileName": (_I16, [ctypes.c_char_p, ctypes.c_char_p, _I16]),
    "FS_OpenR": (_I16, [ctypes.c_char_p]), "FS_Getc": (_I16, [_I16]),
    "FS_ReadFileEx": (_I16, [_I16, _P, _U32]), "FS_CloseR": (_I16, [_I16]),
    "FS_FileInfo": (ctypes.POINTER(_FileInfo), [_I16]),
    "FS_OpenW": (_I16, [ctypes.c_char_p]), "FS_WriteFileEx": (_I16, [_I16, _P, _U32]),
    "FS_CloseW": (_I16, [_I16]), "FS_Delete": (_I16, [ctypes.c_char_p]),
    "FS_Rename": (_I16, [ctypes.c_char_p, ctypes.c_char_p]),
    "W32_DISK_GetDevicePtr": (_P, [_I16]), "W32_USER_GetDevicePtr": (_P, [_I16]),
    "W32_Set_USER_DeviceType": (None, [_I16]), "W32_MMR_GetDevicePtr": (_P, [_I16]),
    "P2C_InitHeaderFileStructure": (_P, [_P]), "P2C_Do_Save_Start": (_I16, [_I16, _P]),
    "C2P_Do_Load_Start": (_I16, [_I16, _I16, _P, _P]),
    "P2C_InitMERStructure": (None, [_P]), "P2C_MER_File_Add_Data": (_I16, [_I16, _P]),
    "C2P_LoadFileOfMER": (_I16, [_I16, _P]),
    "P2C_InitTrackStructure": (None, [_P]), "P2C_Track_File_Add_Data": (_I16, [_I16, _P]),
    "C2P_LoadFileOfTrack": (_I16, [_I16, _P]),
    "KVS_InsertCartridge": (_I16, [_I16, ctypes.c_char_p, _U16]),
    "KVS_InsertCardDirectory": (_I16, [_I16, ctypes.c_char_p]),
    "KVS_ChipCapacity": (_I32, [_U16]),
    "K32S_InsertDiskette": (_I16, [_I16, ctypes.c_char_p]),
}


def _find_library() -> str:
    explicit = os.environ.get("CARDFS_LIBRARY")
    if explicit:
        return explicit
    here = os.path.dirname(os.path.abspath(__file__))
    built = os.path.join(here, os.pardir, "build", "libcardfs.so")
    if os.path.exists(built):
        return os.path.normpath(built)
    found = ctypes.util.find_library("cardfs")
    if not found:
        raise OSError("libcardfs.so not found: set CARDFS_LIBRARY to its path, or install cardfs")
    return found


def _load():
    path = _find_library()
    main = ctypes.CDLL(path)
    folder = os.path.dirname(path)
    # The stand-ins are loaded already, as dependencies of libcardfs; open
    # them by the same names to reach their setup calls.
    helpers = []
    for name in ("libkvwin32.so.0", "libkernel32_standin.so.0"):
        beside = os.path.join(folder, name)
        helpers.append(ctypes.CDLL(beside if os.path.exists(beside) else name))
    functions = {}
    for name, (restype, argtypes) in _SIGNATURES.items():
        for lib in [main] + helpers:
            if hasattr(lib, name):
                fn = getattr(lib, name)
                fn.restype, fn.argtypes = restype, argtypes
                functions[name] = fn
                break
        else:
            raise OSError("%s has no function %s" % (path, name))
    return type("Lib", (), functions)


_lib = _load()

# --- media ------------------------------------------------------------------------

# Chip sets of cartridges by name: PEROM codes and flash configurations.
CHIPS = {"1F5B": 0x1F5B, "1FA4": 0x1FA4, "1FD5": 0x1FD5, "1FDA": 0x1FDA,
         "flash1m": 1, "flash2m": 2, "flash3m": 3, "flash4m": 4}
_READER_IMAGE_SLOT = 3      # the card of W32_MMR_GetDevicePtr(2)
_DISKETTE_BYTES = {720: 737280, 1440: 1474560}
_USB = 1
_table = None  # the device table in use, kept alive for the library


def _encode(name: str) -> bytes:
    return name.encode("latin-1")


def _insert_card(directory: str):
    _check(_lib.KVS_InsertCardDirectory(_READER_IMAGE_SLOT, _encode(directory)), directory)
    return _lib.W32_MMR_GetDevicePtr(2)


def _insert_diskette(image: str, kib: int):
    if not os.path.exists(image):
        if kib not in _DISKETTE_BYTES:
            raise ValueError("a diskette holds 720 or 1440 KiB, not %r" % kib)
        with open(image, "wb") as f:
            f.truncate(_DISKETTE_BYTES[kib])
    _check(_lib.K32S_InsertDiskette(0, _encode(image)), image)
    return _lib.W32_DISK_GetDevicePtr(0)


def _insert_cartridge(image: str, chip, slot: int):
    code = CHIPS.get(chip, chip) if isinstance(chip, str) else chip
    if not isinstance(code, int) or _lib.KVS_ChipCapacity(code) == 0:
        raise ValueError("unknown chip %r (one of %s)" % (chip, ", ".join(CHIPS)))
    _lib.W32_Set_USER_DeviceType(_USB)
    _check(_lib.KVS_InsertCartridge(slot, _encode(image), code), image)
    return _lib.W32_USER_GetDevicePtr(slot)


# --- records ------------------------------------------------------------------

def _defaults(struct_type, init):
    record = struct_type()
    init(ctypes.byref(record))
    return record


def _to_dataclass(cls, record):
    values = {}
    for field in dataclasses.fields(cls):
        value = getattr(record, field.name)
        values[field.name] = value.decode("latin-1") if isinstance(value, bytes) else value
    return cls(**values)


def _to_struct(struct_type, init, item):
    record = _defaults(struct_type, init)
    for field in dataclasses.fields(item):
        value = getattr(item, field.name)
        if isinstance(value, str):
            encoded = _encode(value)
            if len(encoded) > 39:
                raise ValueError("%s holds at most 39 characters" % field.name)
            value = encoded
        setattr(record, field.name, value)
    return record


@dataclasses.dataclass
class MerRecord:
    """One MER record; the defaults are the library's (absent values)."""
    coord1: int = 0
    coord2: int = 0
    text1: str = ""
    text2: str = ""
    byte1: int = -1
    word1: int = -1
    byte2: int = -1
    byte3: int = -1
    byte4: int = -1
    # Seconds since 1970-01-01 00:00 UTC, -1 none. Written as UTC and read
    # back as local time (with year and seconds taken from their fields):
    # a stamp comes back unchanged where local time is UTC.
    time: int = -1
    byte5: int = -1
    word2: int = -1
    byte6: int = -1
    dword1: int = 0xFFFFFFFF
    byte7: int = -1
    word3: int = -1
    year: int = 0xFFFF
    flag: int = 0xFF        # 0, 1, or 0xFF unknown
    word4: int = -1
    seconds: int = 0xFF


@dataclasses.dataclass
class TrackPoint:
    """One track record; byte2 == 0 marks a break between segments."""
    coord1: int = 0
    coord2: int = 0
    byte1: int = -1
    byte2: int = -1
    byte3: int = -1
    byte4: int = -1
    word1: int = -1
    dword1: int = 0xFFFFFFFF
    word2: int = 0xFFFF
    dword2: int = 0xFFFFFFFF
    word3: int = 0xFFFF
    word4: int = 0xFFFF


_MER_KIND = (_MER, lambda p: _lib.P2C_InitMERStructure(p), MerRecord,
             lambda h, p: _lib.P2C_MER_File_Add_Data(h, p), lambda h, p: _lib.C2P_LoadFileOfMER(h, p))
_TRACK_KIND = (_Track, lambda p: _lib.P2C_InitTrackStructure(p), TrackPoint,
               lambda h, p: _lib.P2C_Track_File_Add_Data(h, p), lambda h, p: _lib.C2P_LoadFileOfTrack(h, p))
_RECORD_LOADED, _RECORD_NULL_POSITION, _NO_RECORD = -1, 512, 128
_LOAD_SELECTOR = 1  # any valid selector: the codes it gives are not used here


# --- the volume -----------------------------------------------------------------

@dataclasses.dataclass
class Entry:
    """A file: NAME.EXT as the library builds it, its bytes and blocks."""
    name: str
    size: int
    blocks: int
    first_block: int
    entry: int


@dataclasses.dataclass
class Capacity:
    total_blocks: int
    used_blocks: int
    free_blocks: int
    block_size: int
    free_bytes: int
    medium_kib: int


class Volume:
    """The volume on one medium. Open one with card(), diskette() or cartridge()."""

    _current: Optional["Volume"] = None

    def __init__(self, device, create: bool, label: str):
        if not device:
            raise CardfsError(-18, "no device")
        if Volume._current is not None:
            Volume._current.close()
        global _table
        _table = (ctypes.c_void_p * 2)(device, None)  # the library keeps the pointer
        _check(_lib.FS_SetDeviceTable(_table), "device table")
        Volume._current = self
        self._open = True
        status = _lib.FS_Init(None)
        if status == -6 and create:
            self.format(label)
        else:
            _check(status, "mounting")

    @classmethod
    def card(cls, directory: str, create: bool = False, label: str = "CARDFS") -> "Volume":
        """The card image \\USERIMG.BIN of a card whose root is directory."""
        return cls(_insert_card(directory), create, label)

    @classmethod
    def diskette(cls, image: str, create: bool = False, label: str = "CARDFS", kib: int = 1440) -> "Volume":
        """A diskette image in drive A: (a missing one is made, kib 720 or 1440)."""
        return cls(_insert_diskette(image, kib), create, label)

    @classmethod
    def cartridge(cls, image: str, chip, create: bool = False, label: str = "CARDFS", slot: int = 0) -> "Volume":
        """A cartridge image in the USB card programmer (a missing one is made erased)."""
        return cls(_insert_cartridge(image, chip, slot), create, label)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self) -> None:
        """Every call leaves the volume committed: closing only ends this object."""
        self._open = False
        if Volume._current is self:
            Volume._current = None

    def _live(self):
        if not self._open:
            raise CardfsError(-18, "the volume is closed")

    def format(self, label: str = "CARDFS", test: bool = False) -> None:
        """Makes an empty volume (after the destructive medium test with test=True)."""
        self._live()
        if test:
            _check(_lib.FS_Test(_encode(label)), "testing the medium")
        _check(_lib.FS_Format(_encode(label)), "formatting")
        _check(_lib.FS_Init(None), "mounting")

    def capacity(self) -> Capacity:
        self._live()
        return Capacity(_lib.FS_TotalBlocks(), _lib.FS_BlocksUsed(), _lib.FS_BlocksFree(),
                        _lib.FS_BlockSize(), _lib.FS_SpaceFree(), _lib.FS_DeviceSize())

    def files(self) -> List[Entry]:
        """Every file, in directory order."""
        self._live()
        scan, entry, found = _DirScan(), _DirEntry(), []
        _check(_lib.FS_OpenDir(None, ctypes.byref(scan)), "directory")
        number = 0
        while True:
            status = _lib.FS_ReadDir(ctypes.byref(scan))
            if status == -4:
                break
            _check(status, "directory")
            number += 1
            _check(_lib.FS_GetDirEntry(ctypes.byref(scan), ctypes.byref(entry)), "directory")
            if entry.extension == 0:
                continue
            name = ctypes.create_string_buffer(16)
            _lib.BuildFileName(name, bytes(entry)[4:12], entry.extension)
            found.append(Entry(name.value.decode("latin-1"), 0, entry.blockCount, entry.firstBlock, number))
        _lib.FS_CloseDir(ctypes.byref(scan))
        for item in found:
            item.size = len(self.read(item.name))
        return found

    def exists(self, name: str) -> bool:
        handle = _lib.FS_OpenR(_encode(name))
        if handle == -4:
            return False
        if handle < 0:
            raise _error(handle, name)
        _lib.FS_CloseR(handle)
        return True

    def read(self, name: str) -> bytes:
        """The file's bytes (its chain checked at opening)."""
        self._live()
        handle = _lib.FS_OpenR(_encode(name))
        if handle < 0:
            raise _error(handle, name)
        try:
            return self._read_all(handle, name)
        finally:
            _lib.FS_CloseR(handle)

    @staticmethod
    def _read_all(handle: int, name: str) -> bytes:
        # Read each block's bytes in one call, then step to the next block
        # with one FS_Getc; the file ends in the block whose link word has
        # bit 15 set.
        info = _lib.FS_FileInfo(handle).contents
        parts = []
        while True:
            waiting = info.limit - info.position
            if waiting > 0:
                chunk = ctypes.create_string_buffer(waiting)
                _check(_lib.FS_ReadFileEx(handle, chunk, waiting), name)
                parts.append(chunk.raw)
                continue
            if info.buffer[1] & 0x80:
                return b"".join(parts)
            byte = _lib.FS_Getc(handle)
            if byte < 0:
                status = _lib.GetErrno()
                if status == -57:
                    return b"".join(parts)
                raise _error(status, name)
            parts.append(bytes([byte]))

    def write(self, name: str, data: bytes) -> None:
        """Creates the file (an existing name is refused) and commits it."""
        self._live()
        handle = _lib.FS_OpenW(_encode(name))
        if handle < 0:
            raise _error(handle, name)
        status = _lib.FS_WriteFileEx(handle, data, len(data)) if data else OK
        closed = _lib.FS_CloseW(handle)  # drops the file after a failed write
        _check(status, name)
        _check(closed, name)

    def delete(self, name: str) -> None:
        self._live()
        _check(_lib.FS_Delete(_encode(name)), name)

    def rename(self, old: str, new: str) -> None:
        self._live()
        _check(_lib.FS_Rename(_encode(old), _encode(new)), "%s -> %s" % (old, new))

    # --- MER and track files ---------------------------------------------------

    def read_mer(self, name: str) -> List[MerRecord]:
        return self._load_records(name, _MER_KIND)

    def write_mer(self, name: str, records) -> None:
        self._save_records(name, records, _MER_KIND)

    def read_track(self, name: str) -> List[TrackPoint]:
        return self._load_records(name, _TRACK_KIND)

    def write_track(self, name: str, points) -> None:
        self._save_records(name, points, _TRACK_KIND)

    def _load_records(self, name, kind):
        struct_type, init, cls, _, load = kind
        self._live()
        handle = _lib.FS_OpenR(_encode(name))
        if handle < 0:
            raise _error(handle, name)
        try:
            codes = (ctypes.c_int16 * 2)()
            status = _lib.C2P_Do_Load_Start(handle, _LOAD_SELECTOR, ctypes.byref(codes, 0), ctypes.byref(codes, 2))
            if status != OK:
                raise self._record_error(status, name)
            records = []
            while True:
                record = _defaults(struct_type, init)
                status = load(handle, ctypes.byref(record))
                if status == _NO_RECORD:
                    return records
                if status not in (_RECORD_LOADED, _RECORD_NULL_POSITION):
                    raise self._record_error(status, name)
                records.append(_to_dataclass(cls, record))
        finally:
            _lib.FS_CloseR(handle)

    def _save_records(self, name, items, kind):
        struct_type, init, _, add, _ = kind
        records = [_to_struct(struct_type, init, item) for item in items]  # checked before writing
        self._live()
        handle = _lib.FS_OpenW(_encode(name))
        if handle < 0:
            raise _error(handle, name)
        head = _Head()
        _lib.P2C_InitHeaderFileStructure(ctypes.byref(head))
        status = _lib.P2C_Do_Save_Start(handle, ctypes.byref(head))
        for record in records:
            if status != OK:
                break
            status = add(handle, ctypes.byref(record))
        closed = _lib.FS_CloseW(handle)
        _check(status, name)
        _check(closed, name)

    @staticmethod
    def _record_error(status: int, name: str) -> CardfsError:
        if status > 0:
            reasons = {1: "bad selector", 4: "not a transfer file (bad format byte)",
                       8: "malformed record"}
            return CardfsError(status, "%s: %s" % (name, reasons.get(status, "load result %d" % status)))
        return _error(status, name)
