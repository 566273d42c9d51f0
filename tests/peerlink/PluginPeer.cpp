// A stand-in host process running one Nembrix instance on a given registry segment, driven line by line
// over stdin by the registry tests. Usage:
//   nx_plugin_peer SEGMENT
// Commands, one reply line each:
//   make <mode>                          -> ok <connected 0|1> <slot>   (44100 Hz, 512-sample blocks)
//   tone <blocks> <n> <ampL> <ampR>      -> ok <samples so far>         (toneSample stream, continuous)
#include "plugin/Nembrix.h"
#include "plugin/NembrixParams.h"
#include "tests/peerlink/PeerPattern.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: nx_plugin_peer SEGMENT\n");
        return 2;
    }
    setenv("NEMBRIX_REGISTRY", argv[1], 1);
    std::unique_ptr<nx::Nembrix> plug;
    long t = 0;
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string verb;
        in >> verb;
        std::string reply = "err unknown command";
        if (verb == "make") {
            int mode = 0;
            in >> mode;
            plug = std::make_unique<nx::Nembrix>();
            plug->SetSampleRate(44100.0);
            plug->SetBlockSize(512);
            plug->SetChannelsConnected(2, 2);
            plug->OnReset();
            plug->GetParam(nx::kParamMode)->Set(mode);
            plug->OnParamChange(nx::kParamMode);
            reply = "ok " + std::to_string(plug->shm.isConnected() ? 1 : 0) + " " +
                    std::to_string(plug->shm.slotIndex());
        } else if (verb == "tone" && plug) {
            int blocks = 0, n = 0;
            double ampL = 0, ampR = 0;
            in >> blocks >> n >> ampL >> ampR;
            std::vector<double> l(size_t(n > 0 ? n : 0)), r(l.size()), outL(l.size()), outR(l.size());
            double* ins[2] = {l.data(), r.data()};
            double* outs[2] = {outL.data(), outR.data()};
            for (int b = 0; b < blocks; ++b) {
                for (int k = 0; k < n; ++k, ++t) {
                    l[size_t(k)] = nx::test::toneSample(ampL, t);
                    r[size_t(k)] = nx::test::toneSample(ampR, t);
                }
                plug->ProcessBlock(ins, outs, n);
            }
            reply = "ok " + std::to_string(t);
        }
        std::fputs((reply + "\n").c_str(), stdout);
        std::fflush(stdout);
    }
    return 0;
}
