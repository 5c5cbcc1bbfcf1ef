"""Intel HEX program files as the whole-system tests compare them with the flash."""


def hex_bytes(path):
    """The bytes of an Intel HEX file by address (data records, with extended segment and
    linear addresses)."""
    data, base = {}, 0
    for line in open(path):
        line = line.strip()
        if not line.startswith(":"):
            continue
        raw = bytes.fromhex(line[1:])
        count, address, kind = raw[0], raw[1] << 8 | raw[2], raw[3]
        if kind == 0:
            for k in range(count):
                data[base + address + k] = raw[4 + k]
        elif kind == 2:
            base = (raw[4] << 8 | raw[5]) << 4
        elif kind == 4:
            base = (raw[4] << 8 | raw[5]) << 16
    return data


def flash_image(path, size):
    """The first size bytes of a flash that holds the program file and nothing else."""
    data = hex_bytes(path)
    return bytes(data.get(a, 0xFF) for a in range(size))
