// The ppdev system calls replaced by parallel ports in memory: which ports
// the kernel lists at which addresses, which /dev nodes open, and what each
// ioctl does, with every call logged and any step made to fail with an errno.
#pragma once

#include "PpdevPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <map>
#include <string>
#include <sys/ioctl.h>
#include <vector>

namespace qvx::test {

struct FakeParport {
    std::string baseAddr; // content of base-addr
    bool deviceNode = true; // /dev/parportN exists (ppdev loaded)
    unsigned char data = 0;
    unsigned char status = 0;
    std::deque<unsigned char> statusReads; // answer the next status reads, then `status`
    // Non-zero: that step fails with this errno.
    int openErrno = 0;
    int exclErrno = 0;
    int claimErrno = 0;
    int dataDirErrno = 0;
    int readDataErrno = 0;
    int writeDataErrno = 0;
    int readStatusErrno = 0;
    int releaseErrno = 0;
    bool exclusive = false;
    bool claimed = false;
};

class FakePpdevSystem : public PpdevSystem {
public:
    ~FakePpdevSystem() override
    {
        if (logAfterDestruction)
            *logAfterDestruction = log;
    }
    int Open(const std::string& path, int flags) override
    {
        log.push_back("open " + path);
        EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
        EXPECT_TRUE(flags & O_CLOEXEC) << "the descriptor must not leak into child programs";
        for (auto& [name, p] : ports) {
            if ("/dev/" + name != path || !p.deviceNode)
                continue;
            if (p.openErrno) {
                errno = p.openErrno;
                return -1;
            }
            fds[next] = &p;
            return next++;
        }
        errno = ENOENT;
        return -1;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override
    {
        ++ioctls;
        FakeParport& p = *fds.at(fd);
        auto* byte = static_cast<unsigned char*>(arg);
        auto fail = [&](int err) {
            errno = err;
            return -1;
        };
        switch (request) {
        case PPEXCL:
            log.push_back("excl");
            EXPECT_FALSE(p.claimed) << "PPEXCL only works before PPCLAIM";
            if (p.exclErrno)
                return fail(p.exclErrno);
            p.exclusive = true;
            return 0;
        case PPCLAIM:
            log.push_back("claim");
            EXPECT_TRUE(p.exclusive) << "claimed without PPEXCL";
            if (p.claimErrno)
                return fail(p.claimErrno);
            p.claimed = true;
            return 0;
        case PPRELEASE:
            log.push_back("release");
            if (p.releaseErrno)
                return fail(p.releaseErrno);
            p.claimed = false;
            return 0;
        case PPDATADIR:
            log.push_back("datadir " + std::to_string(*static_cast<int*>(arg)));
            if (p.dataDirErrno)
                return fail(p.dataDirErrno);
            break;
        case PPRDATA:
            log.push_back("rdata");
            if (p.readDataErrno)
                return fail(p.readDataErrno);
            *byte = p.data;
            break;
        case PPWDATA:
            log.push_back("wdata " + std::to_string(*byte));
            if (p.writeDataErrno)
                return fail(p.writeDataErrno);
            p.data = *byte;
            break;
        case PPRSTATUS:
            log.push_back("rstatus");
            if (p.readStatusErrno)
                return fail(p.readStatusErrno);
            *byte = p.status;
            if (!p.statusReads.empty()) {
                *byte = p.statusReads.front();
                p.statusReads.pop_front();
            }
            break;
        default: ADD_FAILURE() << "unexpected ioctl " << request; return -1;
        }
        EXPECT_TRUE(p.claimed) << "register access before PPCLAIM";
        return 0;
    }
    void Close(int fd) override
    {
        log.push_back("close");
        fds.erase(fd);
    }
    std::optional<std::string> ReadText(const std::string& path) override
    {
        for (auto& [name, p] : ports)
            if (path == "/proc/sys/dev/parport/" + name + "/base-addr")
                return p.baseAddr;
        return std::nullopt;
    }
    std::vector<std::string> ListDir(const std::string& path) override
    {
        EXPECT_EQ(path, "/proc/sys/dev/parport/");
        std::vector<std::string> names = {"default"};
        for (auto& [name, p] : ports)
            names.push_back(name);
        return names;
    }

    std::map<std::string, FakeParport> ports;
    std::map<int, FakeParport*> fds;
    std::vector<std::string> log;
    std::vector<std::string>* logAfterDestruction = nullptr;
    long ioctls = 0; // register and control calls made so far
    int next = 5;
};

} // namespace qvx::test
