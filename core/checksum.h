// The checksums archives store for their members' data. Every stored
// checksum is compared through these, on the bytes the member produced.
#pragma once

#include <cstddef>
#include <cstdint>

// CRC-32 (ISO-HDLC: reflected polynomial 0xEDB88320, as ZIP, gzip, ARJ and
// yEnc store it). Start from 0 and feed the running value back in.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t size);

// CRC-16/ARC (reflected polynomial 0xA001, initial value 0), as LZH stores
// it in its member headers. Start from 0 and feed the running value back in.
uint16_t Crc16Update(uint16_t crc, const void* data, size_t size);
