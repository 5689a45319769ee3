// Memory running out part way through a page's buffers. This program replaces
// operator new, so that each allocation SetupPage makes can be failed in turn; it is a
// program of its own so no other test runs under that allocator.
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "page.h"
#include "page_test_support.h"
#include "printer_job.h"
#include "wce/base.h"

namespace {

// Allocations still allowed before one fails; negative when none is to fail.
long g_allowed = -1;
bool g_failed = false;

void* Allocate(std::size_t size) {
    if (g_allowed == 0) {
        g_allowed = -1;
        g_failed = true;
        throw std::bad_alloc();
    }
    if (g_allowed > 0) --g_allowed;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size) noexcept {
    try {
        return Allocate(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace

// Every form that pairs with free, so the sanitizer sees matching calls.
void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace qx470 {
namespace {

using pagetest::OwnedJob;
using pagetest::PageOptions;
using pagetest::SetUpPage;

class DebugLog {
  public:
    DebugLog() {
        const char* base = std::getenv("TMPDIR");
        path_ = std::string(base && *base ? base : "/tmp") + "/qxpagemem." +
                std::to_string(::getpid()) + ".log";
        ::setenv("QX_DEBUG_LOG", path_.c_str(), 1);
    }
    ~DebugLog() {
        ::unsetenv("QX_DEBUG_LOG");
        std::filesystem::remove(path_);
    }
    std::string Take() {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        in.close();
        std::filesystem::remove(path_);
        return text.str();
    }

  private:
    std::string path_;
};

// Sets the page up with the nth allocation from here failing; true when one failed.
bool SetUpFailing(PrinterJob& job, const PageOptions& o, long n, int* result) {
    g_failed = false;
    g_allowed = n;
    *result = SetUpPage(job, o);
    g_allowed = -1;
    return g_failed;
}

void ExpectNoBuffers(const PrinterJob& job) {
    const PageBuffers& b = job.buffers;
    EXPECT_EQ(job.pageImage, nullptr);
    EXPECT_EQ(b.diffusionPlanes, 0);
    EXPECT_FALSE(b.page || b.landscapeLine || b.blackValues || b.blackError || b.blackBits ||
                 b.colourBits || b.greyTone || b.cyanValues || b.magentaValues || b.yellowValues ||
                 b.cyanError || b.magentaError || b.yellowError || b.colourTone || b.lightness ||
                 b.diffusionWork);
}

// Whichever buffer runs out, the page is refused as when the first one does: 0, not
// enough memory, one debug line, and nothing kept (the leak checker sees the rest).
void FailEachAllocation(const PageOptions& o) {
    DebugLog log;
    OwnedJob o1;
    long n = 0;
    int result = 0;
    for (; SetUpFailing(o1.job, o, n, &result); ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        EXPECT_EQ(result, 0);
        EXPECT_EQ(wce::GetLastError(), wce::ERROR_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(log.Take(), "SetupPage: out of memory for the page (" + std::to_string(o.width) +
                                  " dots x " + std::to_string(o.rows) + " rows)\r\n");
        ExpectNoBuffers(o1.job);
    }
    // Every allocation has failed once; with none failing the page is set up in full.
    EXPECT_GT(n, 1);
    ASSERT_EQ(result, 1);
    EXPECT_NE(o1.job.pageImage, nullptr);
    EXPECT_EQ(o1.job.buffers.diffusionPlanes, o.colour ? 3 : 1);
    EXPECT_EQ(log.Take(), "");
}

TEST(SetupPageMemory, MonochromePageRefusedWheneverMemoryRunsOut) {
    FailEachAllocation({.width = 576, .rows = 300});
}

TEST(SetupPageMemory, ColourPageRefusedWheneverMemoryRunsOut) {
    FailEachAllocation({.width = 575, .rows = 120, .colour = true});
}

// A failure frees the page of the device context before it, and the next page is set
// up as if nothing had happened.
TEST(SetupPageMemory, FailureDropsTheEarlierPageAndTheNextOneWorks) {
    DebugLog log;
    OwnedJob o;
    ASSERT_EQ(SetUpPage(o.job, {.colour = true}), 1);
    int result = 1;
    ASSERT_TRUE(SetUpFailing(o.job, {.width = 384, .rows = 80}, 3, &result));
    EXPECT_EQ(result, 0);
    ExpectNoBuffers(o.job);
    log.Take();
    ASSERT_EQ(SetUpPage(o.job, {.width = 384, .rows = 80}), 1);
    EXPECT_EQ(o.job.pageWidth, 384);
    for (int i = 0; i < 80 * 48; ++i) ASSERT_EQ(o.job.pageImage[i], 0) << i;
    EXPECT_EQ(o.job.buffers.diffusionPlanes, 1);
    EXPECT_EQ(o.job.buffers.cyanValues, nullptr);
}

}  // namespace
}  // namespace qx470
