"""Tests of the Python binding, run with: python3 -m unittest discover -s python
(CARDFS_LIBRARY names the libcardfs.so to test; by default build/'s)."""
import os
import tempfile
import time
import unittest

import cardfs


class Media(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.path = lambda name: os.path.join(self.dir.name, name)

    def tearDown(self):
        self.dir.cleanup()

    def round_trip(self, open_volume):
        data = bytes(range(256)) * 20  # several blocks on every medium
        with open_volume(True) as vol:
            free = vol.capacity().free_blocks
            vol.write("DATA.001", data)
            vol.write("EMPTY.002", b"")
            self.assertLess(vol.capacity().free_blocks, free)
        with open_volume(False) as vol:  # mounted again: what was committed is there
            listing = {e.name: e.size for e in vol.files()}
            self.assertEqual(listing, {"DATA.001": len(data), "EMPTY.002": 0})
            self.assertEqual(vol.read("DATA.001"), data)
            vol.rename("DATA.001", "MOVED.003")
            vol.delete("EMPTY.002")
            self.assertEqual([e.name for e in vol.files()], ["MOVED.003"])
            vol.delete("MOVED.003")
            self.assertEqual(vol.capacity().free_blocks, free)

    def test_card_diskette_and_cartridge_keep_files(self):
        self.round_trip(lambda create: cardfs.Volume.card(self.path("card"), create=create))
        self.round_trip(lambda create: cardfs.Volume.diskette(self.path("a.img"), create=create, kib=720))
        self.round_trip(lambda create: cardfs.Volume.cartridge(self.path("c.bin"), "flash1m", create=create))
        self.assertEqual(os.path.getsize(self.path("c.bin")), 1 << 20)
        self.assertEqual(os.path.getsize(self.path("card/USERIMG.BIN")), 1 << 20)

    def test_failures_raise_with_status_and_leave_nothing(self):
        with self.assertRaises(cardfs.CardfsError) as caught:
            cardfs.Volume.card(self.path("blank"))
        self.assertEqual(caught.exception.status, -6)
        with self.assertRaises(ValueError):
            cardfs.Volume.cartridge(self.path("x.bin"), "flash9m")
        with cardfs.Volume.diskette(self.path("b.img"), create=True) as vol:
            vol.write("ONE.001", b"1")
            with self.assertRaises(FileExistsError) as caught:
                vol.write("ONE.001", b"2")
            self.assertEqual((caught.exception.status, caught.exception.text), (-5, "the file exists"))
            with self.assertRaises(FileNotFoundError):
                vol.read("NONE.001")
            before = vol.capacity()
            with self.assertRaises(cardfs.CardfsError) as caught:
                vol.write("HUGE.001", b"x" * (before.free_bytes + 1024))
            self.assertEqual(caught.exception.status, -3)
            self.assertFalse(vol.exists("HUGE.001"))
            self.assertEqual(vol.capacity(), before)
            with self.assertRaises(ValueError):  # checked before anything is written
                vol.write_mer("LONG.001", [cardfs.MerRecord(text1="x" * 40)])
            self.assertFalse(vol.exists("LONG.001"))
            self.assertEqual(vol.read("ONE.001"), b"1")


class Records(unittest.TestCase):
    def setUp(self):
        # A MER stamp is written as UTC and read back as local time: the two
        # agree in UTC only.
        self.zone = os.environ.get("TZ")
        os.environ["TZ"] = "UTC"
        time.tzset()

    def tearDown(self):
        if self.zone is None:
            del os.environ["TZ"]
        else:
            os.environ["TZ"] = self.zone
        time.tzset()

    def test_mer_and_track_round_trip(self):
        with tempfile.TemporaryDirectory() as folder:
            with cardfs.Volume.card(os.path.join(folder, "card"), create=True) as vol:
                mer = [cardfs.MerRecord(coord1=-1200, coord2=3400, text1="WELL 7", text2="dry",
                                        byte1=3, word1=-2, time=1_700_000_000, dword1=123456, flag=1,
                                        year=2023, seconds=20),  # as the stamp gives them
                       cardfs.MerRecord()]
                vol.write_mer("ITEMS.001", mer)
                self.assertEqual(vol.read_mer("ITEMS.001"), mer)
                track = [cardfs.TrackPoint(coord1=i * 10, coord2=-i * 7, word1=i) for i in range(300)]
                track[150] = cardfs.TrackPoint(byte2=0)  # a break between two segments
                vol.write_track("TRACK.001", track)
                loaded = vol.read_track("TRACK.001")
                self.assertEqual(len(loaded), len(track))
                self.assertEqual(loaded[:150] + loaded[151:], track[:150] + track[151:])
                self.assertEqual(loaded[150].byte2, 0)
                with self.assertRaises(cardfs.CardfsError) as caught:
                    vol.write("PLAIN.001", b"\x09 not a transfer file")
                    vol.read_track("PLAIN.001")
                self.assertGreater(caught.exception.status, 0)


if __name__ == "__main__":
    unittest.main()
