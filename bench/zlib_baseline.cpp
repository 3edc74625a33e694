// zlib_baseline ARCHIVE DESTDIR
//
// The least work a ZIP extractor can do, as the yardstick for the library:
// the directory is read into memory, then per member one read of its
// compressed data, one inflate call into a buffer of the declared size, one
// crc32 over the result and one write of the whole file. No time stamps, no
// attributes, no progress. Only what the benchmark payload needs is handled
// (methods 0 and 8, no ZIP64, no encryption); the ZIP may follow other data.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

uint32_t U16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t U32(const uint8_t* p) { return U16(p) | (U16(p + 2) << 16); }

bool ReadAt(FILE* f, int64_t position, void* buffer, size_t n) {
    return fseeko(f, position, SEEK_SET) == 0 && fread(buffer, 1, n, f) == n;
}

struct Directory {
    std::vector<uint8_t> records;
    int64_t base = 0;  // position of the ZIP data in the file
};

bool ReadDirectory(FILE* f, Directory& dir) {
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const int64_t size = ftello(f);
    const int64_t window = size < 66000 ? size : 66000;
    std::vector<uint8_t> tail(static_cast<size_t>(window));
    if (!ReadAt(f, size - window, tail.data(), tail.size())) return false;
    for (int64_t i = window - 22; i >= 0; --i) {
        const uint8_t* e = &tail[static_cast<size_t>(i)];
        if (memcmp(e, "PK\5\6", 4) != 0) continue;
        const uint32_t cd_size = U32(e + 12);
        const uint32_t cd_offset = U32(e + 16);
        const int64_t cd_start = size - window + i - cd_size;
        dir.base = cd_start - cd_offset;
        dir.records.resize(cd_size);
        return ReadAt(f, cd_start, dir.records.data(), cd_size);
    }
    return false;
}

// A buffer that grows to the largest request and is never zero-filled, so
// that the yardstick pays for neither.
class Scratch {
public:
    uint8_t* Get(size_t n) {
        if (n > size_) {
            data_.reset(new uint8_t[n]);
            size_ = n;
        }
        return data_.get();
    }

private:
    std::unique_ptr<uint8_t[]> data_;
    size_t size_ = 0;
};

bool WriteFile(const std::string& name, const uint8_t* data, size_t n, std::string& last_dir) {
    const fs::path path = fs::u8path(name);
    const std::string parent = path.parent_path().string();
    if (!parent.empty() && parent != last_dir) {
        std::error_code error;
        fs::create_directories(parent, error);
        last_dir = parent;
    }
    FILE* out = fopen(name.c_str(), "wb");
    if (!out) return false;
    setvbuf(out, nullptr, _IONBF, 0);  // the one write goes straight to the file
    const bool ok = fwrite(data, 1, n, out) == n;
    return fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: zlib_baseline ARCHIVE DESTDIR\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "rb");
    Directory dir;
    if (!f || !ReadDirectory(f, dir)) {
        fprintf(stderr, "zlib_baseline: no ZIP directory in %s\n", argv[1]);
        return 1;
    }
    fs::create_directories(argv[2]);
    fs::current_path(argv[2]);
    Scratch compressed_buffer, output_buffer;
    std::string last_dir;
    int failures = 0, count = 0;
    for (size_t at = 0; at + 46 <= dir.records.size();) {
        const uint8_t* r = &dir.records[at];
        if (memcmp(r, "PK\1\2", 4) != 0) break;
        const uint32_t method = U16(r + 10), crc = U32(r + 16);
        const uint32_t csize = U32(r + 20), usize = U32(r + 24);
        const uint32_t name_length = U16(r + 28);
        const uint32_t skip = name_length + U16(r + 30) + U16(r + 32);
        const std::string name(reinterpret_cast<const char*>(r + 46), name_length);
        const int64_t local = dir.base + U32(r + 42);
        at += 46 + skip;
        ++count;
        if (!name.empty() && name.back() == '/') {
            fs::create_directories(fs::u8path(name));
            continue;
        }
        uint8_t header[30];
        if (!ReadAt(f, local, header, 30)) { ++failures; continue; }
        uint8_t* compressed = compressed_buffer.Get(csize + 1);
        const int64_t data = local + 30 + U16(header + 26) + U16(header + 28);
        if (csize && !ReadAt(f, data, compressed, csize)) { ++failures; continue; }
        const uint8_t* result = compressed;
        if (method == 8) {
            uint8_t* output = output_buffer.Get(usize + 1);
            z_stream stream{};
            inflateInit2(&stream, -MAX_WBITS);
            stream.next_in = compressed;
            stream.avail_in = csize;
            stream.next_out = output;
            stream.avail_out = usize;
            const int z = inflate(&stream, Z_FINISH);
            inflateEnd(&stream);
            if (z != Z_STREAM_END) { ++failures; continue; }
            result = output;
        }
        if (crc32(0, result, usize) != crc) ++failures;
        if (!WriteFile(name, result, usize, last_dir)) ++failures;
    }
    fclose(f);
    printf("zlib_baseline: entries %d, failures %d\n", count, failures);
    return failures ? 1 : 0;
}
