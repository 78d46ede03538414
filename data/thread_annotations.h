// Lock annotations for clang's thread-safety analysis (-Wthread-safety):
// which mutex guards a member, what a function acquires, releases or
// requires. Other compilers see nothing. Use them with dg::Mutex
// (data/mutex.h), which the analysis knows as a lock.
#pragma once

#if defined(__clang__)
#define EXP_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define EXP_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) EXP_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY EXP_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) EXP_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) EXP_THREAD_ANNOTATION(pt_guarded_by(x))
#define ACQUIRE(...) EXP_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) EXP_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define REQUIRES(...) EXP_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) EXP_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ASSERT_CAPABILITY(x) EXP_THREAD_ANNOTATION(assert_capability(x))
