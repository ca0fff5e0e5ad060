// The class registry: one process-wide table of class objects by name, guarded by one lock.
// A class object records its name, bases, instance variables and methods (with exposure and
// kind, in order of definition), creates instances and runs its initClass once when registered.
#pragma once

#include <host/values.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class ClassObject;
class ClassRegistry;
class Thread;

enum class Exposure { Hidden, Protected, Exported, ExportedReadOnly };
enum class MethodKind { Instance, Class };

struct VarInfo {
    std::string name;
    Exposure exposure = Exposure::Hidden;
    friend bool operator==(const VarInfo&, const VarInfo&) = default;
};

struct MethodInfo {
    std::string name;
    Exposure exposure = Exposure::Hidden;
    MethodKind kind = MethodKind::Instance;
    friend bool operator==(const MethodInfo&, const MethodInfo&) = default;
};

// The root of every object a class object creates. It knows the class it was made by.
class Object : public std::enable_shared_from_this<Object> {
  public:
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    virtual ~Object();

    // The class object whose `New` made this object; nullptr for one made directly in C++.
    std::shared_ptr<ClassObject> classObject() const { return class_; }

  private:
    friend class ClassObject;
    std::shared_ptr<ClassObject> class_;
};

// `new`: makes an instance and runs its init. `initClass`: run once, under the registry lock,
// when the class is registered; it receives the class object as its receiver.
using Factory = std::function<std::shared_ptr<Object>()>;
using ClassInit = std::function<void(const std::shared_ptr<ClassObject>&)>;

// A class being defined. Made only by ClassRegistry::Lock::create and consumed by
// registerClass, so a definition exists only while someone holds the registry lock.
class ClassDefinition {
  public:
    ClassDefinition(ClassDefinition&&) noexcept = default;
    ClassDefinition& operator=(ClassDefinition&&) noexcept = default;
    ~ClassDefinition();

    // Each raises host::Error for a name already defined in this class or one more entry than
    // `create` announced.
    ClassDefinition& var(std::string name, Exposure exposure);
    ClassDefinition& method(std::string name, Exposure exposure, MethodKind kind);
    ClassDefinition& factory(Factory make);
    ClassDefinition& initClass(ClassInit init);

  private:
    friend class ClassRegistry;
    friend class ClassObject;
    ClassDefinition(std::string name, std::vector<std::shared_ptr<ClassObject>> bases,
                    std::size_t varCount, std::size_t methodCount);

    std::string name_;
    std::vector<std::shared_ptr<ClassObject>> bases_;
    std::size_t varCount_ = 0;
    std::size_t methodCount_ = 0;
    std::vector<VarInfo> vars_;
    std::vector<MethodInfo> methods_;
    Factory factory_;
    ClassInit initClass_;
};

class ClassObject : public std::enable_shared_from_this<ClassObject> {
  public:
    ClassObject(const ClassObject&) = delete;
    ClassObject& operator=(const ClassObject&) = delete;
    ~ClassObject();

    const std::string& name() const noexcept { return name_; }
    const std::vector<std::shared_ptr<ClassObject>>& bases() const noexcept { return bases_; }
    const std::vector<VarInfo>& vars() const noexcept { return vars_; }
    const std::vector<MethodInfo>& methods() const noexcept { return methods_; }
    // True for this class and for any class it derives from, directly or not.
    bool derivesFrom(std::string_view className) const;

    // `new`: a fresh instance, its init already run. Raises host::Error for a class without
    // factory. The typed form also raises when the instance is not a T.
    std::shared_ptr<Object> New() const;
    template <typename T> std::shared_ptr<T> New() const {
        auto typed = std::dynamic_pointer_cast<T>(New());
        if (!typed) {
            throwWrongType();
        }
        return typed;
    }

    // The class object's own Thread part, set up by Thread::initClass for classes derived from
    // "Thread". It has no OS thread; see host::Thread for what its members do. Raises
    // host::Error for a class that has none.
    Thread& threadPart() const;

  private:
    friend class ClassRegistry;
    friend class Thread;
    struct Token {};

  public:
    // Public for make_shared only: the Token is private, so only the registry makes these.
    ClassObject(Token, ClassDefinition&& def);

  private:
    [[noreturn]] void throwWrongType() const;

    std::string name_;
    std::vector<std::shared_ptr<ClassObject>> bases_;
    std::vector<VarInfo> vars_;
    std::vector<MethodInfo> methods_;
    Factory factory_;
    std::shared_ptr<Thread> threadPart_;
};

class ClassRegistry {
  public:
    // Holds the registry lock for its lifetime; released on every path out of the scope,
    // exceptions included. The lock is recursive: a thread that holds it may take it again
    // (a class function may call its base's class function while defining itself).
    class Lock {
      public:
        Lock(Lock&&) noexcept = default;
        Lock& operator=(Lock&&) noexcept = default;
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;
        ~Lock();

        // The registered class of that name, or nullptr.
        std::shared_ptr<ClassObject> find(std::string_view name) const;
        // Starts the definition of a class with its bases and the number of instance variables
        // and methods it will define. Raises host::Error for an empty name or a null base.
        ClassDefinition create(std::string name, std::vector<std::shared_ptr<ClassObject>> bases,
                               std::size_t varCount, std::size_t methodCount);
        // Closes the definition, enters the class in the table and runs its initClass once.
        // Raises host::Error for a name already registered or a definition that does not have
        // the announced number of variables and methods; when initClass raises, the class is
        // taken out of the table again and the error passes on.
        std::shared_ptr<ClassObject> registerClass(ClassDefinition&& def);

      private:
        friend class ClassRegistry;
        explicit Lock(std::unique_lock<std::recursive_mutex> held);
        std::unique_lock<std::recursive_mutex> held_;
    };

    [[nodiscard]] static Lock lock();
};

} // namespace host
