// The class registry: one class per name, initClass once under contention, the lock released
// on errors, and the definition recorded as given.
#include <host/error.h>
#include <host/threads.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using host::Exposure;
using host::MethodKind;

namespace {

class Widget : public host::Thread {};

std::atomic<int> widgetInits{0};

// A class function in the shape programs write them: lock, look up, define, register.
std::shared_ptr<host::ClassObject> WidgetClass() {
    auto lock = host::ClassRegistry::lock();
    if (auto cls = lock.find("Widget_")) {
        return cls;
    }
    auto base = host::Thread::classFunction();
    auto def = lock.create("Widget_", {base}, 2, 3);
    def.var("nSize", Exposure::Protected)
        .var("cName", Exposure::ExportedReadOnly)
        .method("init", Exposure::Protected, MethodKind::Instance)
        .method("grow", Exposure::Exported, MethodKind::Instance)
        .method("initClass", Exposure::Exported, MethodKind::Class)
        .factory([] { return std::make_shared<Widget>(); })
        .initClass([](const std::shared_ptr<host::ClassObject>& self) {
            // Slow on purpose, so that racing class-function calls overlap with it.
            std::this_thread::sleep_for(20ms);
            ++widgetInits;
            host::Thread::initClass(self);
        });
    return lock.registerClass(std::move(def));
}

TEST(ClassRegistry, EightThreadsCallingTheClassFunctionGetOneClassInitialisedOnce) {
    std::atomic<bool> go{false};
    std::vector<std::future<std::shared_ptr<host::ClassObject>>> calls;
    calls.reserve(8);
    for (int i = 0; i < 8; ++i) {
        calls.push_back(std::async(std::launch::async, [&] {
            while (!go) {
                std::this_thread::yield();
            }
            return WidgetClass();
        }));
    }
    go = true;
    std::vector<std::shared_ptr<host::ClassObject>> got;
    got.reserve(calls.size());
    for (auto& c : calls) {
        got.push_back(c.get());
    }
    for (const auto& cls : got) {
        EXPECT_EQ(cls, got.front());
    }
    EXPECT_EQ(widgetInits, 1);
    EXPECT_EQ(WidgetClass(), got.front());
    EXPECT_EQ(widgetInits, 1);
}

TEST(ClassRegistry, RecordsBasesVariablesAndMethodsInOrder) {
    const auto cls = WidgetClass();
    EXPECT_EQ(cls->name(), "Widget_");
    ASSERT_EQ(cls->bases().size(), 1u);
    EXPECT_EQ(cls->bases()[0], host::Thread::classFunction());
    EXPECT_EQ(cls->bases()[0]->name(), "Thread");
    EXPECT_TRUE(cls->derivesFrom("Thread"));
    EXPECT_FALSE(host::Thread::classFunction()->derivesFrom("Widget_"));
    EXPECT_EQ(cls->vars(), (std::vector<host::VarInfo>{{"nSize", Exposure::Protected},
                                                       {"cName", Exposure::ExportedReadOnly}}));
    EXPECT_EQ(cls->methods(), (std::vector<host::MethodInfo>{
                                  {"init", Exposure::Protected, MethodKind::Instance},
                                  {"grow", Exposure::Exported, MethodKind::Instance},
                                  {"initClass", Exposure::Exported, MethodKind::Class}}));
    // new: the instance knows its class; the typed form checks the C++ type.
    auto w = cls->New<Widget>();
    EXPECT_EQ(w->classObject(), cls);
    EXPECT_THROW(host::Thread::classFunction()->New<Widget>(), host::Error);
    EXPECT_NO_THROW(cls->threadPart());
}

TEST(ClassRegistry, ThreadClassIsRegisteredOnce) {
    auto a = host::Thread::classFunction();
    auto b = host::Thread::classFunction();
    EXPECT_EQ(a, b);
    EXPECT_TRUE(a->bases().empty());
    EXPECT_EQ(host::ClassRegistry::lock().find("Thread"), a);
    EXPECT_THROW(host::Thread::initClass(a, {1LL}), host::Error);
}

// Another thread can take the lock within two seconds: the lock is not held any more.
bool lockIsFree() {
    auto other = std::async(std::launch::async, [] {
        auto lock = host::ClassRegistry::lock();
        return lock.find("Thread") != nullptr;
    });
    return other.wait_for(2s) == std::future_status::ready && other.get();
}

TEST(ClassRegistry, ErrorsInADefinitionReleaseTheLock) {
    host::Thread::classFunction();
    const auto defineBadly = [] {
        auto lock = host::ClassRegistry::lock();
        auto def = lock.create("Broken_", {host::Thread::classFunction()}, 2, 0);
        def.var("nA", Exposure::Hidden).var("nA", Exposure::Hidden); // defined twice
        lock.registerClass(std::move(def));
    };
    EXPECT_THROW(defineBadly(), host::Error);
    EXPECT_TRUE(lockIsFree());

    // Fewer entries than announced, and more.
    {
        auto lock = host::ClassRegistry::lock();
        auto def = lock.create("Short_", {}, 1, 1);
        def.var("nA", Exposure::Hidden);
        EXPECT_THROW(lock.registerClass(std::move(def)), host::Error);
        auto over = lock.create("Over_", {}, 0, 0);
        EXPECT_THROW(over.method("m", Exposure::Exported, MethodKind::Class), host::Error);
        EXPECT_THROW(lock.create("", {}, 0, 0), host::Error);
        EXPECT_THROW(lock.create("NilBase_", {nullptr}, 0, 0), host::Error);
        EXPECT_EQ(lock.find("Short_"), nullptr);
    }
    EXPECT_TRUE(lockIsFree());

    // An initClass that raises leaves no class behind; the name can be defined again.
    const auto defineFailingInit = [](bool fail) {
        auto lock = host::ClassRegistry::lock();
        auto def = lock.create("Flaky_", {}, 0, 0);
        def.initClass([fail](const std::shared_ptr<host::ClassObject>&) {
            if (fail) {
                throw host::Error("Flaky_:initClass", "refused");
            }
        });
        return lock.registerClass(std::move(def));
    };
    EXPECT_THROW(defineFailingInit(true), host::Error);
    EXPECT_TRUE(lockIsFree());
    EXPECT_EQ(host::ClassRegistry::lock().find("Flaky_"), nullptr);
    const auto flaky = defineFailingInit(false);
    EXPECT_EQ(host::ClassRegistry::lock().find("Flaky_"), flaky);
    EXPECT_THROW(flaky->New(), host::Error); // no factory
    EXPECT_THROW(flaky->threadPart(), host::Error);
}

TEST(ClassRegistry, DuplicateRegistrationRaises) {
    auto lock = host::ClassRegistry::lock();
    auto first = lock.create("Twice_", {}, 0, 0);
    auto second = lock.create("Twice_", {}, 0, 0);
    const auto cls = lock.registerClass(std::move(first));
    EXPECT_THROW(lock.registerClass(std::move(second)), host::Error);
    EXPECT_EQ(lock.find("Twice_"), cls);
}

} // namespace
