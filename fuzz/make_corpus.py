#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets from real frames of the device's two protocols.

Run from anywhere: python3 fuzz/make_corpus.py. The files land in fuzz/corpus/<target>/ (and the
inputs of known faults in fuzz/regressions/<target>/) and are checked in; the check values are
computed here, independently of the C++ code under test.
"""

import os
import shutil

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")


def crc16(data):
    crc = 0xFFFF
    for byte in data:
        crc ^= byte
        for _ in range(8):
            crc = (crc >> 1) ^ 0xA001 if crc & 1 else crc >> 1
    return crc


def with_crc(data):
    data = bytes(data)
    crc = crc16(data)
    return data + bytes([crc & 0xFF, crc >> 8])


def native(command, data=b""):
    body = bytes(data) + bytes(15 - len(data))
    return bytes([0xAA, command]) + body + bytes([sum(body) & 0xFF, 0xAB])


def hexbytes(text):
    return bytes.fromhex(text)


def hex_text(data):
    """The echo text: two lower-case digits and one blank per byte."""
    return "".join("%02x " % b for b in data)


# Frames from the device's documentation of its replies and requests.
MEASUREMENT_REPLY = hexbytes("01 03 08 00 7B 01 C8 03 15 00 00 AF 51")
PROBE_ANSWER = hexbytes("05 03 02 00 05 89 87")
ECHO_MODBUS = hexbytes("00 06 00 B1 00 03 98 3D")
ECHO_KELVRA = with_crc(hexbytes("00 06 00 B1 00 00"))
ECHO_FACTORY = hexbytes("00 06 00 A5 00 01 59 F8")
ECHO_OTHER_ADDRESS = hexbytes("01 06 00 B1 00 03 99 EC")
DEVICE_ID_REPLY = native(0xA6, bytes(6) + hexbytes("12 34 AB CD"))
DEVICE_ID_REPLY_ZEROS = native(0xA6, bytes(6) + hexbytes("00 0F 00 00"))
FIRMWARE_REPLY = native(0xB5, bytes(7) + hexbytes("01 FF 03"))
FIRMWARE_REPLY_2 = native(0xB5, bytes(7) + hexbytes("01 02 0A"))
SLEEP_FRAME = native(0xB4, hexbytes("06 01") + bytes(11) + hexbytes("FF FF"))
TRANSPARENT_READ_REPLY = with_crc(bytes([0x01, 0x03, 38]) + SLEEP_FRAME + bytes(38 - 19))
EXCEPTION_REPLY = with_crc(hexbytes("01 83 02"))
SELF_TEST_REPLY = with_crc(hexbytes("01 03 02 00 0E"))
CALIBRATION_REPLY = with_crc(hexbytes("01 03 04 00 05 00 64"))
MULTIPLE_ACK = with_crc(hexbytes("01 10 00 C3 00 02"))

assert ECHO_KELVRA[6:] == hexbytes("D8 3C")
assert with_crc(hexbytes("00 06 00 B1 00 03")) == ECHO_MODBUS
assert with_crc(PROBE_ANSWER[:5]) == PROBE_ANSWER
assert with_crc(MEASUREMENT_REPLY[:11]) == MEASUREMENT_REPLY
assert SLEEP_FRAME[17] == 0x05

REQUESTS = {
    "read_measurement_avg": hexbytes("00 03 00 B4 00 04 05 FE"),
    "read_measurement_unit1": hexbytes("00 03 01 B4 00 04 04 02"),
    "set_address_ff": hexbytes("00 06 00 00 00 FF C8 5B"),
    "set_address_1f": hexbytes("00 06 00 00 00 1F C9 D3"),
    "set_baud_9600": hexbytes("00 06 00 CD 00 03 59 E5"),
    "manual_clean_10": hexbytes("00 06 00 A9 00 0A D8 3C"),
    "manual_heat_off": hexbytes("00 06 00 AB 00 00 F9 FB"),
    "heat_temp_40_m10": with_crc(hexbytes("00 06 00 AC 28 F6")),
    "global_all": hexbytes("00 06 00 AE 00 0F A9 FE"),
    "global_none": hexbytes("00 06 00 AE 00 00 E9 FA"),
    "calibration_unit2_pm100": hexbytes("00 10 02 C7 00 02 04 00 14 00 64 E2 6A"),
    "calibration_avg_pm25": hexbytes("00 10 00 C3 00 02 04 01 05 00 32 2B 3E"),
    "calibration_query": hexbytes("00 03 01 C5 00 02 D4 1B"),
    "probe": hexbytes("00 03 00 00 00 01 85 DB"),
    "to_modbus": ECHO_MODBUS,
    "to_kelvra": ECHO_KELVRA,
    "factory": ECHO_FACTORY,
    "transparent_read_unit1": hexbytes("00 03 01 11 00 13 54 2F"),
    "transparent_sleep_unit1": hexbytes("00 10 01 11 00 0A 14") + SLEEP_FRAME + hexbytes("00 27 55"),
    "transparent_sleep_unit2": hexbytes("00 10 02 11 00 0A 13") + SLEEP_FRAME + hexbytes("9D 6F"),
    "transparent_empty_unit1": hexbytes("00 10 01 11 00 0A 01 00 8D 8A"),
    "native_device_info": native(0xA6),
    "native_firmware": native(0xB5),
    "native_set_id_ffff": native(0xA7, bytes(6) + hexbytes("FF FF FF FF")),
    "native_set_id_1234": native(0xA7, bytes(6) + hexbytes("12 34 AB CD")),
}

assert REQUESTS["native_set_id_ffff"][17] == 0xFC
assert REQUESTS["native_set_id_1234"][17] == 0xBE
for name, frame in REQUESTS.items():
    if frame[0] == 0x00:
        assert with_crc(frame[:-2]) == frame, name


# fuzz_replies records. The query numbers are the order of PendingReplies::Query.
SENSOR_DATA, CALIBRATION, TRANS_READ, FACTOR, PROBE, DEVICE_INFO, FIRMWARE_ID = 0, 10, 11, 12, 13, 14, 15
MODBUS_ADDR, SELF_CHECK, TEMP_HUMI = 4, 5, 7
PORT_CLOSES, WRITES_FAIL_OR_NOT, SWITCH_ECHO, TO_NEXT_DEADLINE = b"\xF2", b"\xF1", b"\xF0", b"\xD1"
# Settings: retries in bits 0-1, local echo, the probe held by time (250 ms times 1 + bits 4-5).
ECHO_ON, PROBE_BY_TIME = 0x04, 0x08


def replies_input(*records, settings=0):
    """fuzz_replies: the session's settings, then the records."""
    return bytes([settings]) + b"".join(records)


def tick(data=b"", after_ms=304, fix_crc=False):
    """A poll tick after_ms (a multiple of 8; about the poll period) after the last one, at which data
    arrive (63 bytes at most)."""
    assert len(data) < 64 and after_ms % 8 == 0 and after_ms < 256 * 8
    return bytes([len(data) | (0x40 if fix_crc else 0), after_ms // 8]) + data


def ticks(data, *cuts, every_ms=304):
    """data arriving over several ticks, cut at the given offsets."""
    bounds = [0] + list(cuts) + [len(data)]
    return b"".join(tick(data[a:b], every_ms) for a, b in zip(bounds, bounds[1:]))


def sensor(unit=0):
    """A press of the measurement of a unit (0 for Avg)."""
    return bytes([0x80 | SENSOR_DATA, unit])


def read(query, registers, fails=False):
    """A press whose request reads registers (0 to 31); the write fails when asked."""
    assert 0 <= registers < 32
    return bytes([0x80 | query, registers | (0x20 if fails else 0)])


def native_query(query, command):
    return bytes([0x80 | query, 0xC0 | (command - 0xA0)])


def write_query(query):
    return bytes([0x80 | query, 0x80])


def later(query, registers, after_ms):
    """A press whose read goes out after_ms later."""
    assert after_ms % 8 == 0 and after_ms < 256 * 8
    return bytes([0xC0 | query, registers, after_ms // 8])


def advance(after_ms):
    """The session advances after_ms later, without a poll."""
    return bytes([0xD0, after_ms // 8])


def between_polls(data):
    """data arriving between two polls."""
    return bytes([0xE0, len(data)]) + data


def sim_input(chunks, address=1, mask=0x0F, temperature=23, humidity=45, seed=7):
    """fuzz_sim_requests: settings, then a header byte and the bytes of each chunk."""
    out = bytes([address, mask, temperature & 0xFF, humidity, seed])
    for chunk, mode in chunks:
        assert len(chunk) < 64
        out += bytes([(mode << 6) | len(chunk)]) + chunk
    return out


def texts_input(fields, mode=0, unit=0, rng=0, combo=0):
    """fuzz_operator_texts: mode, unit, range and baud index, then the fields joined by U+001F."""
    text = "\x1f".join(fields)
    raw = text.encode("utf-16-le") if mode & 1 else text.encode("utf-8")
    return bytes([mode, unit & 0xFF, rng & 0xFF, combo & 0xFF]) + raw


def seeds():
    measurement = sensor()
    two_bytes = read(TEMP_HUMI, 1)
    temp_reply = with_crc(hexbytes("01 03 02 17 2D"))
    replies = {
        # Whole frames of every kind, each answering its query.
        "measurement": replies_input(measurement, tick(MEASUREMENT_REPLY)),
        "device_id_then_firmware": replies_input(native_query(DEVICE_INFO, 0xA6), tick(DEVICE_ID_REPLY),
                                                 native_query(FIRMWARE_ID, 0xB5), tick(FIRMWARE_REPLY, 200)),
        "device_id_zeros": replies_input(native_query(DEVICE_INFO, 0xA6), tick(DEVICE_ID_REPLY_ZEROS)),
        "firmware_2": replies_input(native_query(FIRMWARE_ID, 0xB5), tick(FIRMWARE_REPLY_2)),
        "native_pair": replies_input(native_query(DEVICE_INFO, 0xA6), native_query(FIRMWARE_ID, 0xB5),
                                     tick(DEVICE_ID_REPLY + FIRMWARE_REPLY)),
        "native_unasked": replies_input(tick(DEVICE_ID_REPLY)),
        "echo_modbus": replies_input(tick(ECHO_MODBUS)),
        "echo_kelvra": replies_input(tick(ECHO_KELVRA)),
        "echo_factory": replies_input(tick(ECHO_FACTORY)),
        "echo_other_address": replies_input(tick(ECHO_OTHER_ADDRESS)),
        "exception_ends_oldest_read": replies_input(read(CALIBRATION, 2), measurement, tick(EXCEPTION_REPLY),
                                                    tick(MEASUREMENT_REPLY)),
        "exceptions_of_every_code": replies_input(tick(b"".join(with_crc(bytes([0x01, function, code]))
                                                        for function, code in ((0x86, 1), (0x90, 3), (0x83, 4), (0x83, 9))))),
        "self_test": replies_input(read(SELF_CHECK, 1), tick(SELF_TEST_REPLY)),
        "calibration": replies_input(read(CALIBRATION, 2), tick(CALIBRATION_REPLY)),
        "transparent_read": replies_input(read(TRANS_READ, 19), tick(TRANSPARENT_READ_REPLY)),
        "factors": replies_input(read(FACTOR, 4), tick(with_crc(hexbytes("01 03 08 01 02 03 04 05 06 07 FF")))),
        "multiple_answer_then_reply": replies_input(two_bytes, tick(MULTIPLE_ACK), tick(temp_reply)),
        "every_kind_in_one_tick": replies_input(measurement, two_bytes,
                                                tick(MEASUREMENT_REPLY + ECHO_MODBUS + MULTIPLE_ACK + temp_reply)),
        # Frames cut over ticks, empty ticks between.
        "measurement_split": replies_input(measurement, ticks(MEASUREMENT_REPLY, 5)),
        "measurement_split_first_byte": replies_input(measurement, ticks(MEASUREMENT_REPLY, 1)),
        "measurement_byte_by_byte": replies_input(measurement, ticks(MEASUREMENT_REPLY, *range(1, 13), every_ms=8)),
        "native_split": replies_input(native_query(DEVICE_INFO, 0xA6), ticks(DEVICE_ID_REPLY, 7), tick()),
        "echo_split_empty_tick": replies_input(tick(ECHO_FACTORY[:3]), tick(), tick(ECHO_FACTORY[3:])),
        # Junk, starts that never complete, check values that do not hold.
        "junk_between_frames": replies_input(two_bytes, tick(b"\x55\x55" + temp_reply + b"\x00\x01\x02")),
        "read_two_bytes_times_out": replies_input(tick(hexbytes("01 03")), tick(after_ms=1000)),
        "incomplete_keeps_later_start": replies_input(tick(MEASUREMENT_REPLY[:5]), measurement,
                                                      tick(MEASUREMENT_REPLY[:3], 896), tick(b"", 104),
                                                      tick(MEASUREMENT_REPLY[3:], 200)),
        "false_start_before_reply": replies_input(two_bytes, tick(hexbytes("01 03 40") + temp_reply), tick(after_ms=1000)),
        "crc_low_byte": replies_input(two_bytes, tick(temp_reply[:5] + bytes([temp_reply[5] ^ 1, temp_reply[6]]))),
        "refused_then_good": replies_input(two_bytes, tick(temp_reply[:6] + bytes([temp_reply[6] ^ 1]) + temp_reply)),
        "native_bad_tail": replies_input(tick(DEVICE_ID_REPLY[:18] + b"\xAC")),
        "native_bad_checksum": replies_input(tick(DEVICE_ID_REPLY[:17] + bytes([DEVICE_ID_REPLY[17] ^ 1, 0xAB]))),
        "native_pair_bad_second": replies_input(tick(DEVICE_ID_REPLY + FIRMWARE_REPLY[:18] + b"\x00")),
        "fixed_crc": replies_input(two_bytes, tick(hexbytes("01 03 02 00 07 00 00"), fix_crc=True)),
        # The queue: same-key queries wait their turn, lost replies expire or are asked for again,
        # writes fail, ports close; local echo; bytes between polls.
        "pressed_twice": replies_input(two_bytes, read(MODBUS_ADDR, 1), tick(temp_reply), tick(temp_reply)),
        "lost_reply_expires": replies_input(two_bytes, read(MODBUS_ADDR, 1), measurement, tick(after_ms=1000),
                                            tick(temp_reply)),
        "write_fails": replies_input(read(TEMP_HUMI, 1, fails=True), two_bytes, tick(temp_reply)),
        "write_query_expires": replies_input(write_query(SENSOR_DATA), tick(ECHO_MODBUS), tick(after_ms=1000)),
        "reply_between_polls": replies_input(two_bytes, between_polls(temp_reply[:3]), advance(200),
                                             between_polls(temp_reply[3:]), tick()),
        "query_later": replies_input(later(TEMP_HUMI, 1, 400), TO_NEXT_DEADLINE, tick(temp_reply)),
        "retried_then_answered": replies_input(two_bytes, tick(after_ms=1000), tick(temp_reply), settings=1),
        "waiting_query_not_written": replies_input(two_bytes, read(MODBUS_ADDR, 1), WRITES_FAIL_OR_NOT, tick(after_ms=1000),
                                                   WRITES_FAIL_OR_NOT, two_bytes, tick(temp_reply)),
        "local_echo": replies_input(two_bytes, tick(REQUESTS["probe"][:3]), tick(REQUESTS["probe"][3:] + temp_reply),
                                    settings=ECHO_ON),
        # A reply from address 0 starts as the copy of its request does; switched off, its start is kept.
        "local_echo_switched_off": replies_input(two_bytes, tick(with_crc(hexbytes("00 03 02 17 2D"))[:2]), SWITCH_ECHO,
                                                 tick(with_crc(hexbytes("00 03 02 17 2D"))[2:]), settings=ECHO_ON),
        "port_closes_mid_reply": replies_input(measurement, tick(MEASUREMENT_REPLY[:6]), PORT_CLOSES,
                                               measurement, tick(MEASUREMENT_REPLY)),
        # The baud-rate probe.
        "probe_answer_at_19200": replies_input(read(PROBE, 1), tick(PROBE_ANSWER)),
        "probe_answer_at_4800": replies_input(read(PROBE, 1), tick(), tick(), tick(), tick(), tick(PROBE_ANSWER)),
        "probe_no_answer": replies_input(read(PROBE, 1), *[tick()] * 12),
        "probe_held_by_time": replies_input(read(PROBE, 1), TO_NEXT_DEADLINE, TO_NEXT_DEADLINE, tick(PROBE_ANSWER),
                                            settings=PROBE_BY_TIME | 0x50),
        "probe_not_answer": replies_input(read(PROBE, 1), tick(with_crc(hexbytes("05 03 02 00 01"))), tick(PROBE_ANSWER)),
        "probe_waits_behind_query": replies_input(two_bytes, read(PROBE, 1), tick(temp_reply), tick(PROBE_ANSWER)),
        "probe_not_written": replies_input(two_bytes, read(PROBE, 1), WRITES_FAIL_OR_NOT, tick(temp_reply), tick(),
                                           WRITES_FAIL_OR_NOT, read(PROBE, 1), tick(PROBE_ANSWER)),
    }
    sim = {"request_" + name: sim_input([(frame, 0)]) for name, frame in REQUESTS.items()}
    sim.update({
        "session": sim_input([(REQUESTS["native_device_info"], 0), (REQUESTS["native_firmware"], 0),
                              (REQUESTS["read_measurement_avg"], 0), (REQUESTS["calibration_avg_pm25"], 0),
                              (REQUESTS["calibration_query"], 0), (REQUESTS["transparent_sleep_unit1"], 0),
                              (REQUESTS["transparent_read_unit1"], 3)]),
        "split_request": sim_input([(REQUESTS["set_address_ff"][:3], 0), (REQUESTS["set_address_ff"][3:], 0),
                                    (REQUESTS["read_measurement_unit1"], 0)]),
        "silence_drops_partial": sim_input([(REQUESTS["probe"][:4], 0), (REQUESTS["probe"], 2)]),
        "garbage_then_request": sim_input([(b"\x55\xAA\x01\x03" + REQUESTS["probe"], 0)]),
        "to_native_then_modbus": sim_input([(REQUESTS["to_kelvra"], 0), (REQUESTS["read_measurement_avg"], 0),
                                           (REQUESTS["native_device_info"], 0), (REQUESTS["to_modbus"], 0)]),
        "sleep_then_read": sim_input([(with_crc(hexbytes("00 06 00 A2 00 00")), 0),
                                      (REQUESTS["read_measurement_avg"], 0)]),
        "own_address_aa": sim_input([(with_crc(hexbytes("AA 03 00 00 00 01")), 0)], address=0xAA),
        "fix_crc_request": sim_input([(hexbytes("00 03 00 A8 00 01 00 00"), 1)]),
    })
    texts = {
        "initial_identifier": texts_input(["ffff-ffff", "1", "40", "-10", "10", "24", "-20", "100", "", "1"]),
        "identifier_1234": texts_input(["1234-abcd", "ff", "300", "0", "300", "abc", "5", "50",
                                        hex_text(SLEEP_FRAME), "1"], unit=2, rng=2),
        "identifier_no_dash": texts_input(["1234", "1f", "", "", "", "", "0", "300", "", "2"], unit=1, rng=1, combo=3),
        "identifier_groups": texts_input(["a-b-c", "0", "-128", "255", "1", "2", "-256", "0",
                                          hex_text(SLEEP_FRAME).strip(), "2"], unit=4, combo=1),
        "identifier_long_group": texts_input(["1abcd-0", "100", "127", "-1", "9", "9", "2147483647", "-5",
                                              "aa b5 00 00", "4"], mode=0x1E, combo=2),
        "empty": texts_input([""] * 10),
        "sleep_preset": texts_input(["", "", "", "", "", "", "", "", hex_text(SLEEP_FRAME), "1"]),
        "utf16_fields": texts_input(["ffff-ffff", "ff", "40", "-10", "10", "24", "-20", "100",
                                     "aa a6 00", "3"], mode=1, unit=3),
        "wide_digits": texts_input(["\uff11\uff12-\u0663", "\u00e9", "\u00b9", "-\u0661", "", "", "", "",
                                    "\u4e2d \u6587", "\u0661"]),
    }
    return {"fuzz_replies": replies, "fuzz_sim_requests": sim, "fuzz_operator_texts": texts}


def regressions():
    """Inputs that showed a fault, written out readably; scripts/fuzz.sh replays them."""
    measurement_from_aa = with_crc(hexbytes("AA 03 08 00 7B 01 C8 03 15 00 00"))
    replies = {
        # The 8-byte answer to a multiple write from a device at address 0xAA was held as the start
        # of a native frame, and the measurement reply of the next tick was then lost.
        "ack_from_address_aa_then_measurement": replies_input(
            sensor(), tick(with_crc(hexbytes("AA 10 00 C3 00 02"))), tick(measurement_from_aa)),
        # A read reply whose tail never came was joined with the next, complete reply; the CRC of the
        # joined bytes failed and the good reply was refused with them.
        "truncated_reply_then_measurement": replies_input(
            sensor(), tick(MEASUREMENT_REPLY[:5]), tick(MEASUREMENT_REPLY)),
        # A stray byte before the reply of a device at address 3 made the joined bytes look like a
        # read reply with byte count 3; its CRC failed and the good reply was refused.
        "stray_byte_then_reply_from_address_3": replies_input(
            read(TEMP_HUMI, 1), tick(b"\x55"), tick(with_crc(hexbytes("03 03 02 00 03")))),
        # Two queries waited behind one that got no answer while writes failed: the first released
        # was forgotten, and the second stayed waiting with no deadline to release it.
        "waiting_behind_a_failed_write": replies_input(
            read(TEMP_HUMI, 1), read(MODBUS_ADDR, 1), read(SELF_CHECK, 1), WRITES_FAIL_OR_NOT, tick(after_ms=1000)),
    }
    sim = {
        # The address the simulator is started with was once overwritten by the factory defaults.
        "started_at_address_42_probe": sim_input([(REQUESTS["probe"], 0)], address=42),
        # Calibration write, then a measurement read, to a device at address 0xAA.
        "calibration_then_measurement_at_address_aa": sim_input(
            [(REQUESTS["calibration_avg_pm25"], 0), (REQUESTS["read_measurement_avg"], 0)], address=0xAA),
    }
    return {"fuzz_replies": replies, "fuzz_sim_requests": sim}


def write_tree(root, tree):
    for target, files in tree.items():
        directory = os.path.join(root, target)
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
        for name, content in files.items():
            with open(os.path.join(directory, name), "wb") as out:
                out.write(content)
        print("%s/%s: %d files" % (os.path.basename(root), target, len(files)))


def main():
    write_tree(CORPUS, seeds())
    write_tree(os.path.join(HERE, "regressions"), regressions())


if __name__ == "__main__":
    main()
