// The logging bridge and its level cache.
//
// Cache layout. The cache is an immutable tree: one node per target segment
// ("velloray" -> "paper"), a node optionally holding an entry (a logger and
// the most verbose level it lets through). A change copies the nodes along
// one path, shares the rest, and publishes a new Tree by compare-and-swap of
// the root pointer; a reset swaps in an empty Tree. Published trees are never
// modified, so readers walk them without locks.
//
// Reclamation. A replaced Tree is pushed onto a lock-free "retired" stack. The
// cache counts its active readers; whoever sees the retired stack while that
// count is zero frees the whole stack. This is safe because a reader can only
// hold a retired tree if it started reading before the tree was replaced:
// every retired tree in a batch taken from the stack was replaced before the
// batch was taken, so once the count is seen at zero after taking the batch,
// every reader that could still hold one of them has finished. If readers are
// active, the batch goes back onto the stack and the last reader to leave
// tries again.
//
// Freeing a tree can drop the last node holding a logger reference, and that
// may happen on a thread that is not attached to the interpreter. Such
// references are parked in a locked list and dropped the next time a thread
// attached to the interpreter passes through the bridge.
#include "log_bridge.hpp"

#include <Python.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "errors.hpp"
#include "owned_ref.hpp"

namespace vellora::py::log_bridge {
namespace {

// Nothing more verbose than DEBUG is ever delivered.
constexpr Level kCeiling = Level::Debug;

constexpr std::uint8_t code(Level level) noexcept { return static_cast<std::uint8_t>(level); }

// --- deferred releases ----------------------------------------------------

class DeferredReleases {
public:
    void park(OwnedRef&& reference) noexcept {
        try {
            std::lock_guard lock(mutex_);
            references_.push_back(std::move(reference));
            parked_.store(true, std::memory_order_release);
        } catch (...) {
            // No room to park it: leaking one reference is the only safe
            // choice without the interpreter.
            (void)reference.release();
        }
    }

    void drain() noexcept {
        // Parked references are rare: the flag spares every call the lock.
        // One parked after the flag was read waits for the next drain.
        if (!parked_.load(std::memory_order_acquire)) {
            return;
        }
        std::vector<OwnedRef> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(references_);
            parked_.store(false, std::memory_order_relaxed);
        }
        // `batch` drops its references here, outside the lock.
    }

private:
    std::mutex mutex_;
    std::vector<OwnedRef> references_;
    std::atomic<bool> parked_{false};  // set while references_ may hold some
};

// Lives for the whole process: never destroyed, so nothing runs at exit.
DeferredReleases& deferred_releases() {
    static DeferredReleases* const list = new DeferredReleases;
    return *list;
}

// Drops `reference` now if this thread is attached, else parks it.
void release_logger(OwnedRef&& reference) noexcept {
    if (!reference) {
        return;
    }
    if (PyThreadState_GetUnchecked() != nullptr) {
        OwnedRef dropped = std::move(reference);
    } else {
        deferred_releases().park(std::move(reference));
    }
}

// --- the level cache --------------------------------------------------------

struct Entry {
    Entry(OwnedRef logger_ref, std::uint8_t level_filter) noexcept
        : logger(std::move(logger_ref)), filter(level_filter) {}
    ~Entry() { release_logger(std::move(logger)); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    OwnedRef logger;
    std::uint8_t filter;  // a record passes when its level code is at most this
};

struct Node {
    std::shared_ptr<const Entry> entry;
    std::map<std::string, std::shared_ptr<const Node>, std::less<>> children;
};

struct Tree {
    std::shared_ptr<const Node> root;
    std::uint64_t serial;  // unique per published tree, so a store can tell
                           // whether the cache changed since its lookup
    Tree* next_retired = nullptr;
};

std::uint64_t next_serial() noexcept {
    static std::atomic<std::uint64_t> counter{0};
    return counter.fetch_add(1, std::memory_order_relaxed) + 1;
}

// Walks `target` ("a::b::c") from `root`; null when a segment has no node.
const Node* find(const Node& root, std::string_view target) noexcept {
    const Node* node = &root;
    for (;;) {
        const std::size_t separator = target.find("::");
        const auto child = node->children.find(target.substr(0, separator));
        if (child == node->children.end()) {
            return nullptr;
        }
        node = child->second.get();
        if (separator == std::string_view::npos) {
            return node;
        }
        target.remove_prefix(separator + 2);
    }
}

// A copy of `node` (or a new node) with `entry` stored at `target` below it,
// sharing every untouched subtree.
std::shared_ptr<const Node> with_entry(const Node* node, std::string_view target,
                                       const std::shared_ptr<const Entry>& entry) {
    auto copy = node != nullptr ? std::make_shared<Node>(*node) : std::make_shared<Node>();
    const std::size_t separator = target.find("::");
    const std::string_view segment = target.substr(0, separator);
    const auto existing = copy->children.find(segment);
    const Node* child = existing == copy->children.end() ? nullptr : existing->second.get();
    std::shared_ptr<const Node> replacement;
    if (separator == std::string_view::npos) {
        auto leaf = child != nullptr ? std::make_shared<Node>(*child) : std::make_shared<Node>();
        leaf->entry = entry;
        replacement = std::move(leaf);
    } else {
        replacement = with_entry(child, target.substr(separator + 2), entry);
    }
    copy->children.insert_or_assign(std::string(segment), std::move(replacement));
    return copy;
}

class LevelCache {
public:
    LevelCache() : current_(new Tree{std::make_shared<const Node>(), next_serial()}) {}
    // Only a bridge that lost the installation race is ever destroyed, with
    // no readers left.
    ~LevelCache() {
        reclaim();
        delete current_.load();
    }
    LevelCache(const LevelCache&) = delete;
    LevelCache& operator=(const LevelCache&) = delete;

    // Keeps the tree it read alive until it goes out of scope. Never blocks.
    class Reader {
    public:
        explicit Reader(LevelCache& cache) noexcept : cache_(cache) {
            cache_.readers_.fetch_add(1, std::memory_order_seq_cst);
            tree_ = cache_.current_.load(std::memory_order_seq_cst);
        }
        ~Reader() {
            if (cache_.readers_.fetch_sub(1, std::memory_order_seq_cst) == 1) {
                cache_.reclaim();
            }
        }
        Reader(const Reader&) = delete;
        Reader& operator=(const Reader&) = delete;

        const Node& root() const noexcept { return *tree_->root; }
        std::uint64_t serial() const noexcept { return tree_->serial; }
        Tree* tree() const noexcept { return tree_; }

    private:
        LevelCache& cache_;
        Tree* tree_;
    };

    // Serial of the tree current now.
    std::uint64_t serial() {
        Reader reader(*this);
        return reader.serial();
    }

    // Publishes `entry` at `target` unless the cache changed since the tree
    // with `serial` was read. A store that loses a race is dropped, never
    // retried, so it can never undo a reset.
    void store(std::uint64_t serial, std::string_view target,
               const std::shared_ptr<const Entry>& entry) {
        Reader reader(*this);
        if (reader.serial() != serial) {
            return;
        }
        auto fresh = std::make_unique<Tree>(
            Tree{with_entry(&reader.root(), target, entry), next_serial()});
        Tree* expected = reader.tree();
        if (current_.compare_exchange_strong(expected, fresh.get(), std::memory_order_seq_cst)) {
            (void)fresh.release();
            generation_.fetch_add(1, std::memory_order_seq_cst);
            retire(reader.tree());
        }
    }

    void reset() {
        auto fresh = std::make_unique<Tree>(Tree{std::make_shared<const Node>(), next_serial()});
        Tree* old = current_.exchange(fresh.release(), std::memory_order_seq_cst);
        generation_.fetch_add(1, std::memory_order_seq_cst);
        retire(old);
        reclaim();
    }

    // Advances after every published change (a store or a reset), once the
    // new tree is in place. An answer worked out from the tree read after
    // seeing generation g holds for as long as the generation is still g.
    std::uint64_t generation() const noexcept { return generation_.load(std::memory_order_seq_cst); }
    const std::atomic<std::uint64_t>& generation_counter() const noexcept { return generation_; }

private:
    void retire(Tree* tree) noexcept {
        push_chain(tree, tree);
    }

    // Pushes the chain first..last (linked by next_retired) onto the stack.
    void push_chain(Tree* first, Tree* last) noexcept {
        Tree* head = retired_.load(std::memory_order_seq_cst);
        do {
            last->next_retired = head;
        } while (!retired_.compare_exchange_weak(head, first, std::memory_order_seq_cst));
    }

    void reclaim() noexcept {
        Tree* batch = retired_.exchange(nullptr, std::memory_order_seq_cst);
        if (batch == nullptr) {
            return;
        }
        if (readers_.load(std::memory_order_seq_cst) != 0) {
            Tree* last = batch;
            while (last->next_retired != nullptr) {
                last = last->next_retired;
            }
            push_chain(batch, last);
            return;
        }
        while (batch != nullptr) {
            Tree* next = batch->next_retired;
            delete batch;
            batch = next;
        }
    }

    std::atomic<Tree*> current_;
    std::atomic<std::uint64_t> generation_{0};
    std::atomic<std::size_t> readers_{0};
    std::atomic<Tree*> retired_{nullptr};
};

// --- the bridge -------------------------------------------------------------

struct Bridge {
    OwnedRef logging;  // the `logging` module, imported once
    LevelCache cache;
};

// Installed once and never destroyed.
std::atomic<Bridge*> installed_bridge{nullptr};

// "velloray::paper" -> "velloray.paper".
std::string logger_name(std::string_view target) {
    std::string name;
    name.reserve(target.size());
    for (;;) {
        const std::size_t separator = target.find("::");
        name.append(target.substr(0, separator));
        if (separator == std::string_view::npos) {
            return name;
        }
        name.push_back('.');
        target.remove_prefix(separator + 2);
    }
}

OwnedRef text(std::string_view value) {
    return checked(
        PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "replace"));
}

// logger.<name>(*args)
template <std::size_t N>
OwnedRef call_method(PyObject* self, const char* name, const std::array<PyObject*, N>& args) {
    OwnedRef method = checked(PyUnicode_InternFromString(name));
    std::array<PyObject*, N + 1> stack{};
    stack[0] = self;
    for (std::size_t i = 0; i < N; ++i) {
        stack[i + 1] = args[i];
    }
    return checked(PyObject_VectorcallMethod(method.get(), stack.data(), N + 1, nullptr));
}

// logger.isEnabledFor(level), as a truth value.
bool is_enabled_for(PyObject* logger, PyObject* python_level) {
    OwnedRef answer = call_method<1>(logger, "isEnabledFor", {python_level});
    return checked_status(PyObject_IsTrue(answer.get())) == 1;
}

// The most verbose level `logger` lets through, probed from TRACE upwards. A
// failing probe counts as TRACE: the record is then always asked about.
std::uint8_t probe_filter(PyObject* logger) noexcept {
    constexpr std::array<Level, 5> probes = {Level::Trace, Level::Debug, Level::Info, Level::Warn,
                                             Level::Error};
    try {
        for (Level level : probes) {
            OwnedRef probe_level = checked(PyLong_FromLong(python_level(level)));
            if (is_enabled_for(logger, probe_level.get())) {
                return code(level);
            }
        }
        return 0;
    } catch (...) {
        PyErr_Clear();
        return code(Level::Trace);
    }
}

// Steps after the native filter, with the thread attached and no exception
// pending. Throws PythonError when a logging call raised.
void forward(Bridge& bridge, const Record& record) {
    const RecordSite& site = record.site;

    OwnedRef logger;
    {
        LevelCache::Reader reader(bridge.cache);
        const Node* node = find(reader.root(), site.target);
        if (node != nullptr && node->entry) {
            if (code(site.level) > node->entry->filter) {
                return;
            }
            logger = node->entry->logger.clone();
        }
    }
    const bool from_cache = static_cast<bool>(logger);

    OwnedRef name = text(logger_name(site.target));
    if (!from_cache) {
        OwnedRef get_logger = checked(PyObject_GetAttrString(bridge.logging.get(), "getLogger"));
        logger = checked(PyObject_CallOneArg(get_logger.get(), name.get()));
    }

    OwnedRef level = checked(PyLong_FromLong(python_level(site.level)));
    if (is_enabled_for(logger.get(), level.get())) {
        OwnedRef file = site.file ? text(*site.file) : OwnedRef::borrow(Py_None);
        OwnedRef line = checked(PyLong_FromUnsignedLong(site.line ? *site.line : 0));
        OwnedRef message = text(record.message);
        // Empty args: logging leaves the message untouched, "%" included.
        OwnedRef args = checked(PyTuple_New(0));
        OwnedRef python_record = call_method<9>(
            logger.get(), "makeRecord",
            {name.get(), level.get(), file.get(), line.get(), message.get(), args.get(), Py_None,
             Py_None, Py_None});
        call_method<1>(logger.get(), "handle", {python_record.get()});
    }

    if (!from_cache) {
        // The entry goes onto the tree current when the probe starts: a reset
        // made while `handle` ran is already reflected by the probe, while
        // one made during the probe (which may have read the old
        // configuration) makes the store lose its compare-and-swap.
        const std::uint64_t serial = bridge.cache.serial();
        const std::uint8_t filter = probe_filter(logger.get());
        bridge.cache.store(serial, site.target,
                           std::make_shared<const Entry>(std::move(logger), filter));
    }
}

// The most verbose level code the cache lets through for `target` now:
// the entry's filter, or everything up to the ceiling when there is none.
std::uint8_t cached_filter(Bridge& bridge, std::string_view target) noexcept {
    LevelCache::Reader reader(bridge.cache);
    const Node* node = find(reader.root(), target);
    return node == nullptr || !node->entry ? code(kCeiling) : node->entry->filter;
}

bool enabled(void* context, Level level, std::string_view target) noexcept {
    if (code(level) > code(kCeiling)) {
        return false;
    }
    return code(level) <= cached_filter(*static_cast<Bridge*>(context), target);
}

void deliver(void* context, const Record& record) noexcept {
    if (code(record.site.level) > code(kCeiling)) {
        return;
    }
    auto& bridge = *static_cast<Bridge*>(context);
    const PyGILState_STATE attachment = PyGILState_Ensure();
    {
        drain_deferred_releases();
        // Logging runs with no exception pending; an exception that was
        // pending before this record is restored afterwards and wins over any
        // raised while handling the record.
        OwnedRef earlier = OwnedRef::steal(PyErr_GetRaisedException());
        try {
            forward(bridge, record);
        } catch (...) {
            set_python_error_from_current_exception();
        }
        if (earlier) {
            PyErr_SetRaisedException(earlier.release());
        }
    }
    PyGILState_Release(attachment);
}

}  // namespace

namespace {

// Filters a thread has looked up, valid while the cache's generation is
// the one they were read under. Targets are compared by address: record
// sites are constants.
struct LevelMemo {
    struct Slot {
        const char* target;
        std::size_t size;
        std::uint8_t filter;
    };
    std::uint64_t generation = ~std::uint64_t{0};
    std::array<Slot, 8> slots{};
    std::size_t used = 0;
};

thread_local LevelMemo level_memo;

}  // namespace

CallSink::CallSink() noexcept : bridge_(installed_bridge.load(std::memory_order_acquire)), memo_(&level_memo) {}

DiagnosticSink CallSink::sink() noexcept {
    if (bridge_ == nullptr) {
        return DiagnosticSink::none();
    }
    return DiagnosticSink{this, &CallSink::enabled, &CallSink::deliver, &last_};
}

bool CallSink::enabled(void* context, Level level, std::string_view target) noexcept {
    if (code(level) > code(kCeiling)) {
        return false;
    }
    auto& self = *static_cast<CallSink*>(context);
    auto& bridge = *static_cast<Bridge*>(self.bridge_);
    LevelMemo& memo = *static_cast<LevelMemo*>(self.memo_);
    // The generation is read before the tree, so an answer worked out now
    // holds for as long as the generation stays the one read here.
    const std::uint64_t generation = bridge.cache.generation();
    if (generation != memo.generation) {
        memo.generation = generation;
        memo.used = 0;
    }
    std::uint8_t filter = 0;
    bool found = false;
    for (std::size_t i = 0; i < memo.used; ++i) {
        const LevelMemo::Slot& slot = memo.slots[i];
        if (slot.target == target.data() && slot.size == target.size()) {
            filter = slot.filter;
            found = true;
            break;
        }
    }
    if (!found) {
        filter = cached_filter(bridge, target);
        if (memo.used < memo.slots.size()) {
            memo.slots[memo.used++] = LevelMemo::Slot{target.data(), target.size(), filter};
        }
    }
    const bool answer = code(level) <= filter;
    self.last_ = SinkMemo{&bridge.cache.generation_counter(), generation, target.data(), target.size(), level, answer};
    return answer;
}

void CallSink::deliver(void* context, const Record& record) noexcept {
    vellora::py::log_bridge::deliver(static_cast<CallSink*>(context)->bridge_, record);
}

void install() {
    if (installed_bridge.load(std::memory_order_acquire) != nullptr) {
        return;  // a re-import in the same interpreter reuses the bridge
    }
    OwnedRef logging = OwnedRef::steal(PyImport_ImportModule("logging"));
    if (!logging) {
        OwnedRef cause = OwnedRef::steal(PyErr_GetRaisedException());
        PyObject* fault_type = internal_fault_type();
        OwnedRef message = checked(
            PyUnicode_FromFormat("Failed to initialize python logging: %S", cause.get()));
        OwnedRef fault = checked(PyObject_CallOneArg(fault_type, message.get()));
        PyException_SetCause(fault.get(), cause.release());
        PyErr_SetRaisedException(fault.release());
        throw PythonError{};
    }
    auto bridge = std::make_unique<Bridge>();
    bridge->logging = std::move(logging);
    Bridge* expected = nullptr;
    if (installed_bridge.compare_exchange_strong(expected, bridge.get(),
                                                 std::memory_order_acq_rel)) {
        (void)bridge.release();  // kept for the life of the process
    }
}

DiagnosticSink sink() noexcept {
    Bridge* bridge = installed_bridge.load(std::memory_order_acquire);
    if (bridge == nullptr) {
        return DiagnosticSink::none();
    }
    return DiagnosticSink{bridge, &enabled, &deliver};
}

void reset_cache() {
    if (Bridge* bridge = installed_bridge.load(std::memory_order_acquire)) {
        bridge->cache.reset();
    }
}

void drain_deferred_releases() noexcept { deferred_releases().drain(); }

}  // namespace vellora::py::log_bridge
