/*
 * Cantorel64: application settings and user-interface cultures.
 *
 * Public interface of libCantorel64.so. Ten functions are exported by their
 * plain names, each in a wide (W) and a narrow (A) form:
 *   - wide text is UTF-16 (char16_t), zero-terminated;
 *   - narrow paths are UTF-8; culture names are plain ASCII in both forms.
 * Every output goes into a buffer owned by the caller; no object of the
 * library crosses into the caller except the shared settings object handed
 * out by GetSettingsInstanceW/A, which the caller gives back with Release().
 *
 * Every call works from a start directory: the directory in which to look for
 * "product.config" (that directory and up to three parents). A null or empty
 * start directory means the process's current directory.
 *
 * The player's start-up loads the library, binds GetCultureDirectoryW alone
 * and calls it once:
 *     char16_t dir[260];
 *     uint32_t rc = GetCultureDirectoryW(dir, 260, exeFolder);
 * and unloads the library again.
 */
#ifndef CANTOREL64_H
#define CANTOREL64_H

#ifdef __cplusplus
#include <cstdint>
#else
#include <stdint.h>
#include <uchar.h>
#endif

#if defined(__GNUC__)
#define CANTOREL_API __attribute__((visibility("default")))
#else
#define CANTOREL_API
#endif

/* Result codes of every export. */
#define CANTOREL_OK 0u
#define CANTOREL_E_BAD_ARGUMENT 513u    /* a required argument is null, empty or zero, or a buffer is too small */
#define CANTOREL_E_NO_CONFIG 514u       /* no product.config in the start directory or its three parents */
#define CANTOREL_E_UNKNOWN_CULTURE 517u /* culture name not in the table, or too long for the buffer */
#define CANTOREL_E_NOT_LOADABLE 518u    /* product.config exists but does not parse */
#define CANTOREL_E_NOT_WRITABLE 519u    /* product.config could not be written */
#define CANTOREL_E_NO_MEMORY 521u       /* the settings object cannot be allocated */

/*
 * Called once per culture by EnumCulturesW/A, in table order. `name` and
 * `nativeName` point into the library's constant table and stay valid while
 * the library is loaded. Return 0 to end the enumeration.
 */
typedef int (*CultureEnumCallback)(void* userData, int32_t lcid, const char* name,
                                   const char16_t* nativeName);

#ifdef __cplusplus
/*
 * The shared settings object: one per process, reference counted. Obtain it
 * with GetSettingsInstanceW/A and give back each reference with Release().
 * Its document operations take no lock: clients that share the object
 * serialise their own calls.
 */
struct ICantorel {
    /* Rereads product.config, dropping unsaved changes: 0, 514 or 518. */
    virtual uint32_t Load() = 0;
    /* Writes the document when it was changed: 0, 514 or 519. */
    virtual uint32_t Save() = 0;
    /* Copies the folder holding product.config (at most max - 1 characters
       and a terminator); returns buffer, or null for a null buffer. */
    virtual char16_t* GetConfigDirectory(char16_t* buffer, int max) = 0;
    /* Copies the value stored under key (case ignored); leaves buffer
       unchanged when there is none. Returns buffer, or null for a null buffer. */
    virtual char16_t* GetValue(const char16_t* key, char16_t* buffer, int max) = 0;
    /* Stores value (null: an entry without value) in memory until Save(). */
    virtual void SetValue(const char16_t* key, const char16_t* value) = 0;
    /* Gives back one reference. */
    virtual void Release() = 0;

protected:
    virtual ~ICantorel() {}
};
extern "C" {
#else
typedef struct ICantorel ICantorel;
#endif

CANTOREL_API uint32_t GetSettingsInstanceW(ICantorel** out, const char16_t* startDir);
CANTOREL_API uint32_t GetSettingsInstanceA(ICantorel** out, const char* startDir);

CANTOREL_API uint32_t EnumCulturesW(CultureEnumCallback callback, void* userData,
                                    int32_t onlyInstalled, const char16_t* startDir);
CANTOREL_API uint32_t EnumCulturesA(CultureEnumCallback callback, void* userData,
                                    int32_t onlyInstalled, const char* startDir);

/* `size` counts characters (W) or bytes (A), terminator included. */
CANTOREL_API uint32_t GetCultureDirectoryW(char16_t* buffer, int size, const char16_t* startDir);
CANTOREL_API uint32_t GetCultureDirectoryA(char* buffer, int size, const char* startDir);

/* `size` counts bytes of the narrow name buffer, terminator included. */
CANTOREL_API uint32_t GetCurrentCultureW(char* name, int size, const char16_t* startDir);
CANTOREL_API uint32_t GetCurrentCultureA(char* name, int size, const char* startDir);

CANTOREL_API uint32_t SetCurrentCultureW(const char* name, const char16_t* startDir);
CANTOREL_API uint32_t SetCurrentCultureA(const char* name, const char* startDir);

/* Function-pointer types for clients that bind the exports with dlsym. */
typedef uint32_t (*GetCultureDirectoryWFn)(char16_t*, int, const char16_t*);

#ifdef __cplusplus
}
#endif

#endif
