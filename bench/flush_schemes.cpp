// Ways of keeping the disk busy while a large file is written, measured.
// Writes a file of <mib> MiB (default 768) in pieces of 65,534 bytes (64 KiB
// where the handle bypasses the cache), makes it durable at every 64 MiB and
// once more before closing, and times each scheme: the whole run and the
// longest single call that blocks the writer (what a window pumped between
// calls would wait for).
//   a  flush each slice in place (FlushFileBuffers in the writer)
//   b  flush each slice in a thread of its own, waited for before the next
//      slice's flush and before the end
//   c  FILE_FLAG_OVERLAPPED, four writes in flight, each slice flushed in place
//   d  as c, with FILE_FLAG_WRITE_THROUGH
//   e  FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH, aligned 64 KiB pieces
// Build: i686-w64-mingw32-g++-posix -O2 -static -o flush_schemes.exe bench/flush_schemes.cpp
// Run:   wine flush_schemes.exe [dir] [rounds] [mib] [schemes]   (defaults: . 5 768 abcde)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const DWORD kPiece = 65534;
const DWORD kAlignedPiece = 65536;
const unsigned long long kSlice = 64ull << 20;
const int kInFlight = 4;

LARGE_INTEGER g_frequency;

double Now() {
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / static_cast<double>(g_frequency.QuadPart);
}

// Times one blocking call and keeps the longest.
struct Watch {
  double longest = 0;
  const char* longest_what = "";
  double started = 0;
  void Start() { started = Now(); }
  void Stop(const char* what) {
    double spent = Now() - started;
    if (spent > longest) {
      longest = spent;
      longest_what = what;
    }
  }
};

struct Result {
  bool ok = false;
  double whole = 0;
  double longest = 0;
  const char* longest_what = "";
};

void Fill(char* buffer, DWORD size, unsigned long long offset) {
  // Different bytes in every piece, cheaply, so nothing can be deduplicated.
  unsigned int* words = reinterpret_cast<unsigned int*>(buffer);
  for (DWORD i = 0; i < size / 4; i += 1024) words[i] = static_cast<unsigned int>(offset + i);
}

DWORD WINAPI FlushThread(void* file) { return FlushFileBuffers(static_cast<HANDLE>(file)) ? 1 : 0; }

Result RunSynchronous(const std::string& path, unsigned long long total, char scheme) {
  Result result;
  Watch watch;
  const bool unbuffered = scheme == 'e';
  const DWORD flags = unbuffered ? FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH : FILE_ATTRIBUTE_NORMAL;
  const DWORD piece = unbuffered ? kAlignedPiece : kPiece;
  char* buffer = static_cast<char*>(VirtualAlloc(nullptr, kAlignedPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  const double begun = Now();
  watch.Start();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
  watch.Stop("CreateFile");
  if (file == INVALID_HANDLE_VALUE) {
    printf("  %c: cannot open (error %lu)\n", scheme, GetLastError());
    VirtualFree(buffer, 0, MEM_RELEASE);
    return result;
  }
  bool ok = true;
  HANDLE pending = nullptr;
  unsigned long long written = 0, next_flush = kSlice;
  while (ok && written < total) {
    DWORD size = static_cast<DWORD>(std::min<unsigned long long>(piece, total - written));
    Fill(buffer, size, written);
    DWORD done = 0;
    watch.Start();
    ok = WriteFile(file, buffer, size, &done, nullptr) && done == size;
    watch.Stop("WriteFile");
    written += size;
    if (written >= next_flush || written == total) {
      next_flush += kSlice;
      if (scheme == 'b') {
        if (pending) {
          watch.Start();
          DWORD code = 0;
          ok = ok && WaitForSingleObject(pending, INFINITE) == WAIT_OBJECT_0 && GetExitCodeThread(pending, &code) && code == 1;
          watch.Stop("wait for the previous flush");
          CloseHandle(pending);
          pending = nullptr;
        }
        if (written == total) {
          watch.Start();
          ok = ok && FlushFileBuffers(file);
          watch.Stop("last FlushFileBuffers");
        } else {
          watch.Start();
          pending = CreateThread(nullptr, 64 * 1024, FlushThread, file, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
          watch.Stop("CreateThread");
          ok = ok && pending != nullptr;
        }
      } else {
        watch.Start();
        ok = ok && FlushFileBuffers(file);
        watch.Stop("FlushFileBuffers");
      }
    }
  }
  if (pending) {
    WaitForSingleObject(pending, INFINITE);
    CloseHandle(pending);
  }
  watch.Start();
  CloseHandle(file);
  watch.Stop("CloseHandle");
  result.whole = Now() - begun;
  result.ok = ok;
  result.longest = watch.longest;
  result.longest_what = watch.longest_what;
  VirtualFree(buffer, 0, MEM_RELEASE);
  return result;
}

Result RunOverlapped(const std::string& path, unsigned long long total, char scheme) {
  Result result;
  Watch watch;
  DWORD flags = FILE_FLAG_OVERLAPPED;
  if (scheme == 'd') flags |= FILE_FLAG_WRITE_THROUGH;
  char* buffers = static_cast<char*>(VirtualAlloc(nullptr, kAlignedPiece * kInFlight, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  OVERLAPPED slots[kInFlight];
  bool busy[kInFlight] = {};
  DWORD sizes[kInFlight] = {};
  for (int i = 0; i < kInFlight; ++i) {
    memset(&slots[i], 0, sizeof slots[i]);
    slots[i].hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  const double begun = Now();
  watch.Start();
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, flags, nullptr);
  watch.Stop("CreateFile");
  bool ok = file != INVALID_HANDLE_VALUE;
  if (!ok) printf("  %c: cannot open (error %lu)\n", scheme, GetLastError());
  long immediate = 0, went_pending = 0;
  // Waits for one slot's write to end; false if it failed.
  auto finish = [&](int i) {
    if (!busy[i]) return true;
    DWORD done = 0;
    watch.Start();
    bool ended = GetOverlappedResult(file, &slots[i], &done, TRUE) && done == sizes[i];
    watch.Stop("GetOverlappedResult");
    busy[i] = false;
    return ended;
  };
  unsigned long long written = 0, next_flush = kSlice;
  int next = 0;
  while (ok && written < total) {
    ok = finish(next);
    DWORD size = static_cast<DWORD>(std::min<unsigned long long>(kPiece, total - written));
    char* buffer = buffers + next * kAlignedPiece;
    Fill(buffer, size, written);
    OVERLAPPED* o = &slots[next];
    o->Offset = static_cast<DWORD>(written);
    o->OffsetHigh = static_cast<DWORD>(written >> 32);
    ResetEvent(o->hEvent);
    sizes[next] = size;
    watch.Start();
    BOOL started = WriteFile(file, buffer, size, nullptr, o);
    watch.Stop("WriteFile");
    if (started) {
      ++immediate;
    } else if (GetLastError() == ERROR_IO_PENDING) {
      ++went_pending;
    } else {
      ok = false;
    }
    busy[next] = ok;
    next = (next + 1) % kInFlight;
    written += size;
    if (ok && (written >= next_flush || written == total)) {
      next_flush += kSlice;
      for (int i = 0; i < kInFlight; ++i) ok = finish(i) && ok;
      watch.Start();
      ok = ok && FlushFileBuffers(file);
      watch.Stop("FlushFileBuffers");
    }
  }
  for (int i = 0; i < kInFlight; ++i) finish(i);
  if (file != INVALID_HANDLE_VALUE) {
    watch.Start();
    CloseHandle(file);
    watch.Stop("CloseHandle");
  }
  result.whole = Now() - begun;
  for (int i = 0; i < kInFlight; ++i) CloseHandle(slots[i].hEvent);
  VirtualFree(buffers, 0, MEM_RELEASE);
  printf("    (%c: %ld writes ended at once, %ld went pending)\n", scheme, immediate, went_pending);
  result.ok = ok;
  result.longest = watch.longest;
  result.longest_what = watch.longest_what;
  return result;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  if (n == 0) return 0;
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  QueryPerformanceFrequency(&g_frequency);
  std::string dir = argc > 1 ? argv[1] : ".";
  int rounds = argc > 2 ? atoi(argv[2]) : 5;
  unsigned long long mib = argc > 3 ? strtoull(argv[3], nullptr, 10) : 768;
  std::string schemes = argc > 4 ? argv[4] : "abcde";
  const unsigned long long total = mib << 20;
  const std::string path = dir + "\\flush_schemes.tmp";
  std::vector<std::vector<double>> whole(schemes.size()), longest(schemes.size());
  std::vector<std::string> longest_what(schemes.size());
  int failures = 0;
  printf("%llu MiB in pieces of %lu bytes, flushed every 64 MiB and at the end, %d rounds\n", mib,
         static_cast<unsigned long>(kPiece), rounds);
  // Schemes take turns within a round, so that a slow spell of the disk
  // falls on all of them alike.
  for (int round = 1; round <= rounds; ++round) {
    for (size_t s = 0; s < schemes.size(); ++s) {
      char scheme = schemes[s];
      Result r = scheme == 'c' || scheme == 'd' ? RunOverlapped(path, total, scheme) : RunSynchronous(path, total, scheme);
      DeleteFileA(path.c_str());
      printf("  round %d %c: %s whole %.3f s, longest blocking call %.3f s (%s)\n", round, scheme,
             r.ok ? "ok" : "FAILED", r.whole, r.longest, r.longest_what);
      fflush(stdout);
      if (!r.ok) {
        ++failures;
        continue;
      }
      whole[s].push_back(r.whole);
      longest[s].push_back(r.longest);
      if (r.longest >= Median(longest[s])) longest_what[s] = r.longest_what;
    }
  }
  printf("| scheme | whole (median) | longest blocking call (median) | rounds |\n|---|---|---|---|\n");
  for (size_t s = 0; s < schemes.size(); ++s) {
    printf("| %c | %.3f s | %.3f s (%s) | %zu |\n", schemes[s], Median(whole[s]), Median(longest[s]),
           longest_what[s].c_str(), whole[s].size());
  }
  return failures == 0 ? 0 : 1;
}
