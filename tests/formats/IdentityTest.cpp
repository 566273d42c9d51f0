// What a host reads before it creates anything: the VST3 factory and class records and the CLAP entry,
// factory and descriptor, from the built deliverables.
#include "tests/formats/FormatTestSupport.h"

#include "host/ClapHost.h"
#include "host/Vst3Host.h"

#include "pluginterfaces/base/ipluginbase.h"

#include <cstring>

namespace nx::test {
namespace {

using namespace Steinberg;

std::shared_ptr<host::Vst3Module> vst3Module() {
    std::string err;
    auto m = host::Vst3Module::open(NX_VST3_PATH, &err);
    EXPECT_TRUE(m) << err;
    return m;
}

std::shared_ptr<host::ClapModule> clapModule() {
    std::string err;
    auto m = host::ClapModule::open(NX_CLAP_PATH, &err);
    EXPECT_TRUE(m) << err;
    return m;
}

TEST(Vst3Identity, FactoryAndClassRecords) {
    auto m = vst3Module();
    ASSERT_TRUE(m);
    IPluginFactory* f = m->factory();

    PFactoryInfo fi{};
    ASSERT_EQ(f->getFactoryInfo(&fi), kResultOk);
    EXPECT_STREQ(fi.vendor, "VornAudio");
    EXPECT_STREQ(fi.url, "");
    EXPECT_STREQ(fi.email, "");
    EXPECT_EQ(fi.flags, 16);

    ASSERT_EQ(f->countClasses(), 1);
    PClassInfo ci{};
    ASSERT_EQ(f->getClassInfo(0, &ci), kResultOk);
    const uint8_t kCid[16] = {0xF2, 0xAE, 0xE7, 0x0D, 0x00, 0xDE, 0x4F, 0x4E,
                              'V',  'o',  'r',  'n',  'V',  'o',  'n',  'x'};
    EXPECT_EQ(std::memcmp(ci.cid, kCid, 16), 0);
    EXPECT_EQ(ci.cardinality, PClassInfo::kManyInstances);
    EXPECT_EQ(ci.cardinality, 0x7FFFFFFF);
    EXPECT_STREQ(ci.category, "Audio Module Class");
    EXPECT_STREQ(ci.name, "Nembrix");
    EXPECT_NE(f->getClassInfo(1, &ci), kResultOk);

    IPluginFactory2* f2 = nullptr;
    ASSERT_EQ(f->queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&f2)), kResultOk);
    PClassInfo2 c2{};
    ASSERT_EQ(f2->getClassInfo2(0, &c2), kResultOk);
    EXPECT_EQ(std::memcmp(c2.cid, kCid, 16), 0);
    EXPECT_EQ(c2.classFlags, 2u);
    EXPECT_STREQ(c2.subCategories, "Fx|Modulation");
    EXPECT_STREQ(c2.vendor, "");
    EXPECT_STREQ(c2.version, "1.0.0");
    EXPECT_STREQ(c2.sdkVersion, "VST 3.8.0");
    EXPECT_STREQ(c2.name, "Nembrix");
    f2->release();
}

TEST(Vst3Identity, SecondFactoryRequestReturnsTheSameFactory) {
    auto m = vst3Module();
    ASSERT_TRUE(m);
    IPluginFactory* again = m->getPluginFactoryAgain();
    EXPECT_EQ(again, m->factory());
    if (again) again->release();
    // The factory still answers after the extra reference is gone.
    PFactoryInfo fi{};
    EXPECT_EQ(m->factory()->getFactoryInfo(&fi), kResultOk);
}

TEST(Vst3Identity, UnknownClassIdCreatesNothing) {
    auto m = vst3Module();
    ASSERT_TRUE(m);
    TUID bogus = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    void* obj = reinterpret_cast<void*>(1);
    EXPECT_NE(m->factory()->createInstance(bogus, FUnknown::iid, &obj), kResultOk);
    EXPECT_EQ(obj, nullptr);
}

TEST(ClapIdentity, EntryFactoryAndDescriptor) {
    auto m = clapModule();
    ASSERT_TRUE(m);
    EXPECT_TRUE(clap_version_is_compatible(m->entry()->clap_version));
    EXPECT_EQ(m->entry()->get_factory("clap.something-else"), nullptr);

    const clap_plugin_factory_t* f = m->factory();
    ASSERT_EQ(f->get_plugin_count(f), 1u);
    const clap_plugin_descriptor_t* d = f->get_plugin_descriptor(f, 0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->clap_version.major, 1u);
    EXPECT_EQ(d->clap_version.minor, 2u);
    EXPECT_EQ(d->clap_version.revision, 9u);
    EXPECT_STREQ(d->id, "com.VornAudio.Nembrix");
    EXPECT_STREQ(d->name, "Nembrix");
    EXPECT_STREQ(d->vendor, "VornAudio");
    EXPECT_STREQ(d->url, "");
    EXPECT_STREQ(d->manual_url, "");
    EXPECT_STREQ(d->support_url, "");
    EXPECT_STREQ(d->version, "1.0.0");
    EXPECT_STREQ(d->description, "Multi-instance shared phantom layer plugin");
    ASSERT_NE(d->features, nullptr);
    EXPECT_STREQ(d->features[0], "audio-effect");
    EXPECT_STREQ(d->features[1], "reverb");
    EXPECT_EQ(d->features[2], nullptr);

    EXPECT_EQ(f->get_plugin_descriptor(f, 1), nullptr);
}

TEST(ClapIdentity, WrongPluginIdCreatesNothing) {
    auto m = clapModule();
    ASSERT_TRUE(m);
    std::string err;
    auto valid = host::ClapHost::create(m, "com.VornAudio.Nembrix", &err);
    ASSERT_TRUE(valid) << err;
    const clap_plugin_factory_t* f = m->factory();
    for (const char* id : {"com.VornAudio.nembrix", "com.VornAudio.Nembrix2", "", "Nembrix"}) {
        const clap_plugin_t* p = f->create_plugin(f, valid->hostStruct(), id);
        EXPECT_EQ(p, nullptr) << "id '" << id << "'";
        if (p) p->destroy(p);
    }
    EXPECT_EQ(f->create_plugin(f, valid->hostStruct(), nullptr), nullptr);
}

} // namespace
} // namespace nx::test
