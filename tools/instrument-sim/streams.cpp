#include "streams.h"

#include "pattern.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// In the order of Kind: kind_info indexes it.
const KindInfo kKinds[KIND_COUNT] = {
    {Kind::nmea, "nmea", 4800, 1.0, false},
    {Kind::weather, "weather", 9600, 1.0, false},
    {Kind::binary, "binary", 38400, 0.02, true},
    {Kind::chatty, "chatty", 115200, 0.0, false},
    {Kind::pattern, "pattern", 9600, 0.0, true},
};

// Bytes of the pattern chunk a pattern instrument sends at a time.
enum { PATTERN_CHUNK = 256 };

// A number in [0, 1) that the seed and n fix: the instruments' small jitter.
double noise(std::uint64_t seed, std::uint64_t n)
{
    return static_cast<double>(pattern_block(seed, n) >> 11) / 9007199254740992.0;
}

// Appends "$<body>*<checksum>\r\n" at out + used; returns the new length.
std::size_t nmea_sentence(char *out, std::size_t used, const char *body)
{
    unsigned checksum = 0;
    for (const char *c = body; *c != '\0'; ++c)
        checksum ^= static_cast<unsigned char>(*c);
    const int n = std::snprintf(out + used, MESSAGE_MAX - used, "$%s*%02X\r\n", body, checksum);
    return n > 0 ? used + static_cast<std::size_t>(n) : used;
}

// NMEA's ddmm.mmmm: whole degrees, then minutes.
void nmea_angle(char *out, std::size_t size, double degrees, int degreeDigits)
{
    const int whole = static_cast<int>(degrees);
    std::snprintf(out, size, "%0*d%07.4f", degreeDigits, whole, (degrees - whole) * 60.0);
}

// One second of a GPS receiver that drifts slowly east-north-east.
std::size_t gps_burst(const Stream &s, const std::tm &t, char *out)
{
    const double n = static_cast<double>(s.messages);
    const double lat = 47.3712 + static_cast<double>(s.seed % 100) * 0.001 + n * 0.000002;
    const double lon = 8.5417 + n * 0.000006;
    const double knots = 1.5 + noise(s.seed, s.messages);
    char time[32], date[32], la[32], lo[32], body[256];
    std::snprintf(time, sizeof time, "%02d%02d%02d.00", t.tm_hour, t.tm_min, t.tm_sec);
    std::snprintf(date, sizeof date, "%02d%02d%02d", t.tm_mday, t.tm_mon + 1, t.tm_year % 100);
    nmea_angle(la, sizeof la, lat, 2);
    nmea_angle(lo, sizeof lo, lon, 3);

    std::size_t used = 0;
    std::snprintf(body, sizeof body, "GPGGA,%s,%s,N,%s,E,1,08,0.9,%.1f,M,47.4,M,,", time, la, lo,
                  408.0 + 2.0 * noise(s.seed, s.messages + 1));
    used = nmea_sentence(out, used, body);
    used = nmea_sentence(out, used, "GPGSA,A,3,04,05,09,12,17,20,24,28,,,,,1.8,0.9,1.5");
    used = nmea_sentence(out, used, "GPGSV,2,1,08,04,45,120,42,05,30,200,38,09,60,045,45,12,15,300,30");
    used = nmea_sentence(out, used, "GPGSV,2,2,08,17,52,080,44,20,21,250,33,24,70,160,47,28,10,020,27");
    std::snprintf(body, sizeof body, "GPRMC,%s,A,%s,N,%s,E,%.1f,67.5,%s,,,A", time, la, lo, knots, date);
    used = nmea_sentence(out, used, body);
    std::snprintf(body, sizeof body, "GPVTG,67.5,T,,M,%.1f,N,%.1f,K,A", knots, knots * 1.852);
    return nmea_sentence(out, used, body);
}

std::size_t weather_line(const Stream &s, const std::tm &t, char *out)
{
    // Smooth daily courses with a little jitter, from the time of day.
    const double day = (t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec) / 86400.0;
    const double warm = std::sin(2.0 * M_PI * (day - 0.375));
    const double jitter = noise(s.seed, s.messages) - 0.5;
    const int n = std::snprintf(out, MESSAGE_MAX,
                                "0R0,Dm=%03dD,Sm=%.1fM,Ta=%.1fC,Ua=%.1fP,Pa=%.1fH,Rc=%.2fM\r\n",
                                static_cast<int>(240 + 40 * warm + 20 * jitter) % 360,
                                3.0 + 1.5 * warm + jitter, 12.0 + 6.0 * warm + 0.2 * jitter,
                                60.0 - 20.0 * warm + jitter, 1013.2 + 0.4 * jitter,
                                static_cast<double>(s.messages / 600) * 0.01);
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

unsigned crc16_ccitt(const unsigned char *data, std::size_t count)
{
    unsigned crc = 0xFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= static_cast<unsigned>(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) != 0 ? ((crc << 1) ^ 0x1021) & 0xFFFF : (crc << 1) & 0xFFFF;
    }
    return crc;
}

void put_le(unsigned char *out, std::uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::size_t binary_record(const Stream &s, unsigned char *out)
{
    enum { SWEEP = 16, SAMPLES = 4, PAYLOAD = SWEEP + 4 * SAMPLES, RECORD = 2 + 2 + 1 + PAYLOAD + 2 };
    const std::uint32_t number = static_cast<std::uint32_t>(s.messages & 0xFFFF);
    out[0] = 0xA5;
    out[1] = 0x5A;
    put_le(out + 2, number, 2);
    out[4] = PAYLOAD;
    unsigned char *payload = out + 5;
    for (int i = 0; i < SWEEP; ++i)
        payload[i] = static_cast<unsigned char>(SWEEP * s.messages + i);
    for (int i = 0; i < SAMPLES; ++i) {
        const double wave = std::sin(0.05 * static_cast<double>(s.messages) + i);
        const auto sample = static_cast<std::int32_t>(200.0 * wave + 20.0 * (noise(s.seed, s.messages * SAMPLES + i) - 0.5));
        put_le(payload + SWEEP + 4 * i, static_cast<std::uint32_t>(sample), 4);
    }
    put_le(out + 5 + PAYLOAD, crc16_ccitt(out + 2, 3 + PAYLOAD), 2);
    return RECORD;
}

std::size_t chatty_line(const Stream &s, char *out)
{
    static const char *const kSays[] = {
        "state=RUN", "state=RUN pump=on flow=stable", "cal: offset ok, gain 1.0003",
        "state=RUN heater duty 41%", "buffer 12% full, no overruns", "fan=2210rpm supply=11.98V",
    };
    const std::uint64_t n = s.messages;
    const int n_says = sizeof kSays / sizeof kSays[0];
    const int len = std::snprintf(out, MESSAGE_MAX, "%08llu adc0=%05u adc1=%05u temp=%+.2f %s\r\n",
                                  static_cast<unsigned long long>(n),
                                  static_cast<unsigned>(pattern_block(s.seed, 2 * n) % 65536),
                                  static_cast<unsigned>(pattern_block(s.seed, 2 * n + 1) % 65536),
                                  21.0 + 2.0 * noise(s.seed, n), kSays[n % n_says]);
    return len > 0 ? static_cast<std::size_t>(len) : 0;
}

} // namespace

const KindInfo *find_kind(const char *name)
{
    for (const KindInfo &k : kKinds)
        if (std::strcmp(k.name, name) == 0)
            return &k;
    return nullptr;
}

const KindInfo &kind_info(Kind kind)
{
    return kKinds[static_cast<int>(kind)];
}

std::size_t next_message(Stream &stream, const timespec &wall, unsigned char *out)
{
    std::tm t{};
    gmtime_r(&wall.tv_sec, &t);
    char *text = reinterpret_cast<char *>(out);
    std::size_t length = 0;
    switch (stream.kind) {
    case Kind::nmea:
        length = gps_burst(stream, t, text);
        break;
    case Kind::weather:
        length = weather_line(stream, t, text);
        break;
    case Kind::binary:
        length = binary_record(stream, out);
        break;
    case Kind::chatty:
        length = chatty_line(stream, text);
        break;
    case Kind::pattern:
        pattern_fill(stream.seed, stream.offset, out, PATTERN_CHUNK);
        length = PATTERN_CHUNK;
        break;
    }
    ++stream.messages;
    stream.offset += length;
    return length;
}

} // namespace sim
