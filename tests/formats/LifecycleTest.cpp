// Module and instance life as hosts drive it: both deliverables in one process, a second user of the
// CLAP entry, and the processing (re)start calls that may run on the audio thread.
#include "tests/formats/FormatTestSupport.h"

#include "host/ClapHost.h"
#include "host/Vst3Host.h"
#include "tests/formats/HookCounters.h"

#include <thread>

namespace nx::test {
namespace {

int instanceNumber(host::PluginHost& h) {
    std::vector<uint8_t> b;
    EXPECT_TRUE(h.saveState(b));
    const std::string name = chunkName(b);
    EXPECT_EQ(name.rfind("Nembrix #", 0), 0u) << name;
    return name.size() > 9 ? std::atoi(name.c_str() + 9) : -1;
}

TEST(BothDeliverables, KeepSeparateInstanceCounters) {
    auto clap1 = openInstance(Format::Clap);
    auto vst1 = openInstance(Format::Vst3);
    ASSERT_TRUE(clap1 && vst1);
    const int c1 = instanceNumber(*clap1), v1 = instanceNumber(*vst1);
    auto clap2 = openInstance(Format::Clap);
    auto clap3 = openInstance(Format::Clap);
    auto vst2 = openInstance(Format::Vst3);
    ASSERT_TRUE(clap2 && clap3 && vst2);
    EXPECT_EQ(instanceNumber(*clap2), c1 + 1);
    EXPECT_EQ(instanceNumber(*clap3), c1 + 2);
    EXPECT_EQ(instanceNumber(*vst2), v1 + 1) << "CLAP instances must not advance the VST3 module's counter";
}

TEST(ClapEntry, SecondInitDeinitPairKeepsLiveDescriptor) {
    std::string err;
    auto m = host::ClapModule::open(NX_CLAP_PATH, &err);
    ASSERT_TRUE(m) << err;
    auto h = host::ClapHost::create(m, "com.VornAudio.Nembrix", &err);
    ASSERT_TRUE(h) << err;
    // Another user of the module in this process (a second host component, a scanner) inits and deinits.
    ASSERT_TRUE(m->entry()->init(NX_CLAP_PATH));
    m->entry()->deinit();
    const clap_plugin_descriptor_t* d = h->plugin()->desc;
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->id, "com.VornAudio.Nembrix");
    EXPECT_STREQ(d->name, "Nembrix");
    const clap_plugin_factory_t* f = m->factory();
    ASSERT_NE(f->get_plugin_descriptor(f, 0), nullptr);
    EXPECT_STREQ(f->get_plugin_descriptor(f, 0)->version, "1.0.0");
    // And the instance still works.
    host::ProcessSetup s;
    ASSERT_TRUE(h->activate(s));
    std::vector<float> l(256, 0.1f), r(256, 0.1f);
    float* io[2] = {l.data(), r.data()};
    EXPECT_TRUE(h->process(io, io, 256));
}

// The counting hooks reach into the modules: creating an instance allocates and takes the factory lock.
TEST(HookCounters, SeeTheModulesAllocationsAndLocks) {
    for (Format f : {Format::Clap, Format::Vst3}) {
        SCOPED_TRACE(formatName(f));
        auto warm = openInstance(f); // module loaded outside the counted scope
        ASSERT_TRUE(warm);
        beginCounting();
        auto h = openInstance(f);
        const HookCounts counts = endCounting();
        ASSERT_TRUE(h);
        EXPECT_GT(counts.allocations, 10u);
        EXPECT_GT(counts.locks, 0u);
    }
}

TEST(ClapProcessingRestart, StartAndResetOnAudioThreadNeitherAllocateNorLock) {
    auto h = openInstance(Format::Clap);
    ASSERT_TRUE(h);
    auto* c = static_cast<host::ClapHost*>(h.get());
    host::ProcessSetup s;
    ASSERT_TRUE(h->activate(s)); // activate is main-thread work and may allocate
    const clap_plugin_t* p = c->plugin();
    HookCounts counts;
    bool started = false;
    std::thread audio([&] {
        beginCounting();
        started = p->start_processing(p);
        p->reset(p);
        p->stop_processing(p);
        started = p->start_processing(p) && started;
        p->reset(p);
        p->stop_processing(p);
        counts = endCounting();
    });
    audio.join();
    EXPECT_TRUE(started);
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.locks, 0u);
}

TEST(Vst3ProcessingRestart, SetProcessingNeitherAllocatesNorLocks) {
    auto h = openInstance(Format::Vst3);
    ASSERT_TRUE(h);
    auto* v = static_cast<host::Vst3Host*>(h.get());
    host::ProcessSetup s;
    ASSERT_TRUE(h->activate(s)); // setupProcessing and setActive are main-thread work
    HookCounts counts;
    std::thread audio([&] {
        beginCounting();
        v->setProcessing(false);
        v->setProcessing(true);
        v->setProcessing(false);
        v->setProcessing(true);
        counts = endCounting();
    });
    audio.join();
    EXPECT_EQ(counts.allocations, 0u);
    EXPECT_EQ(counts.locks, 0u);
    // Processing works after the restarts.
    std::vector<float> l(256, 0.1f), r(256, 0.1f);
    float* io[2] = {l.data(), r.data()};
    EXPECT_TRUE(h->process(io, io, 256));
}

} // namespace
} // namespace nx::test
