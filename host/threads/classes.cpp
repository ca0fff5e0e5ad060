// The class registry: the table of class objects, its lock, and class definitions.
#include <host/classes.h>
#include <host/error.h>
#include <host/threads.h>

#include <algorithm>
#include <map>

namespace host {
namespace {

// The table and its lock. Lookup, definition and registration all happen under the lock,
// so no two threads can define the same class at once.
struct Table {
    std::recursive_mutex mutex;
    std::map<std::string, std::shared_ptr<ClassObject>, std::less<>> classes;
};

Table& table() {
    static Table t;
    return t;
}

template <typename Info> bool defined(const std::vector<Info>& infos, const std::string& name) {
    return std::any_of(infos.begin(), infos.end(), [&](const Info& i) { return i.name == name; });
}

} // namespace

Object::~Object() = default;

// ---- ClassDefinition ----------------------------------------------------------------------

ClassDefinition::ClassDefinition(std::string name, std::vector<std::shared_ptr<ClassObject>> bases,
                                 std::size_t varCount, std::size_t methodCount)
    : name_(std::move(name)), bases_(std::move(bases)), varCount_(varCount),
      methodCount_(methodCount) {
    vars_.reserve(varCount_);
    methods_.reserve(methodCount_);
}

ClassDefinition::~ClassDefinition() = default;

ClassDefinition& ClassDefinition::var(std::string name, Exposure exposure) {
    if (vars_.size() == varCount_) {
        throw Error("ClassDefinition::var", "more instance variables than announced",
                    {name_, name});
    }
    if (name.empty() || defined(vars_, name)) {
        throw Error("ClassDefinition::var", "instance variable name empty or defined twice",
                    {name_, name});
    }
    vars_.push_back({std::move(name), exposure});
    return *this;
}

ClassDefinition& ClassDefinition::method(std::string name, Exposure exposure, MethodKind kind) {
    if (methods_.size() == methodCount_) {
        throw Error("ClassDefinition::method", "more methods than announced", {name_, name});
    }
    if (name.empty() || defined(methods_, name)) {
        throw Error("ClassDefinition::method", "method name empty or defined twice", {name_, name});
    }
    methods_.push_back({std::move(name), exposure, kind});
    return *this;
}

ClassDefinition& ClassDefinition::factory(Factory make) {
    factory_ = std::move(make);
    return *this;
}

ClassDefinition& ClassDefinition::initClass(ClassInit init) {
    initClass_ = std::move(init);
    return *this;
}

// ---- ClassObject --------------------------------------------------------------------------

ClassObject::ClassObject(Token, ClassDefinition&& def)
    : name_(std::move(def.name_)), bases_(std::move(def.bases_)), vars_(std::move(def.vars_)),
      methods_(std::move(def.methods_)), factory_(std::move(def.factory_)) {}

ClassObject::~ClassObject() = default;

bool ClassObject::derivesFrom(std::string_view className) const {
    if (name_ == className) {
        return true;
    }
    return std::any_of(bases_.begin(), bases_.end(),
                       [&](const auto& base) { return base->derivesFrom(className); });
}

std::shared_ptr<Object> ClassObject::New() const {
    if (!factory_) {
        throw Error("ClassObject::New", "the class cannot create instances", {name_});
    }
    auto object = factory_();
    if (!object) {
        throw Error("ClassObject::New", "the class's factory made no object", {name_});
    }
    object->class_ = std::const_pointer_cast<ClassObject>(shared_from_this());
    return object;
}

void ClassObject::throwWrongType() const {
    throw Error("ClassObject::New", "the instance is not of the requested C++ type", {name_});
}

Thread& ClassObject::threadPart() const {
    if (!threadPart_) {
        throw Error("ClassObject::threadPart", "the class has no Thread part", {name_});
    }
    return *threadPart_;
}

// ---- ClassRegistry ------------------------------------------------------------------------

ClassRegistry::Lock ClassRegistry::lock() {
    return Lock(std::unique_lock<std::recursive_mutex>(table().mutex));
}

ClassRegistry::Lock::Lock(std::unique_lock<std::recursive_mutex> held) : held_(std::move(held)) {}

ClassRegistry::Lock::~Lock() = default;

std::shared_ptr<ClassObject> ClassRegistry::Lock::find(std::string_view name) const {
    const auto& classes = table().classes;
    const auto it = classes.find(name);
    return it == classes.end() ? nullptr : it->second;
}

ClassDefinition ClassRegistry::Lock::create(std::string name,
                                            std::vector<std::shared_ptr<ClassObject>> bases,
                                            std::size_t varCount, std::size_t methodCount) {
    if (name.empty()) {
        throw Error("ClassRegistry::create", "a class needs a name");
    }
    if (std::any_of(bases.begin(), bases.end(), [](const auto& b) { return !b; })) {
        throw Error("ClassRegistry::create", "a base class is NIL", {name});
    }
    return ClassDefinition(std::move(name), std::move(bases), varCount, methodCount);
}

std::shared_ptr<ClassObject> ClassRegistry::Lock::registerClass(ClassDefinition&& def) {
    auto& classes = table().classes;
    if (classes.count(def.name_) != 0) {
        throw Error("ClassRegistry::registerClass", "a class of that name is registered",
                    {def.name_});
    }
    if (def.vars_.size() != def.varCount_ || def.methods_.size() != def.methodCount_) {
        throw Error("ClassRegistry::registerClass",
                    "the definition has not the announced variables and methods",
                    {def.name_, std::to_string(def.vars_.size()), std::to_string(def.varCount_),
                     std::to_string(def.methods_.size()), std::to_string(def.methodCount_)});
    }
    ClassInit init = std::move(def.initClass_);
    auto cls = std::make_shared<ClassObject>(ClassObject::Token{}, std::move(def));
    classes.emplace(cls->name(), cls);
    if (init) {
        try {
            init(cls);
        } catch (...) {
            classes.erase(cls->name());
            throw;
        }
    }
    return cls;
}

} // namespace host
