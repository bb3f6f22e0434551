// Clang's thread-safety annotations: which mutex guards a member, which a
// function needs held. clang checks them (-Wthread-safety); other compilers
// see nothing.
#ifndef QUILLON_PLATFORM_THREAD_ANNOTATIONS_H_
#define QUILLON_PLATFORM_THREAD_ANNOTATIONS_H_

#if defined(__clang__)
#define QUILLON_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define QUILLON_THREAD_ANNOTATION(x)
#endif

#define QUILLON_CAPABILITY(x) QUILLON_THREAD_ANNOTATION(capability(x))
#define QUILLON_SCOPED_CAPABILITY QUILLON_THREAD_ANNOTATION(scoped_lockable)
#define QUILLON_GUARDED_BY(x) QUILLON_THREAD_ANNOTATION(guarded_by(x))
#define QUILLON_PT_GUARDED_BY(x) QUILLON_THREAD_ANNOTATION(pt_guarded_by(x))
#define QUILLON_REQUIRES(...) \
  QUILLON_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define QUILLON_EXCLUDES(...) \
  QUILLON_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define QUILLON_ACQUIRE(...) \
  QUILLON_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define QUILLON_RELEASE(...) \
  QUILLON_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define QUILLON_TRY_ACQUIRE(...) \
  QUILLON_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define QUILLON_ACQUIRED_BEFORE(...) \
  QUILLON_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define QUILLON_NO_THREAD_SAFETY_ANALYSIS \
  QUILLON_THREAD_ANNOTATION(no_thread_safety_analysis)

#endif  // QUILLON_PLATFORM_THREAD_ANNOTATIONS_H_
