/* The login dialog: asks the user for what a connect string lacks and hands back the
 * completed connect string.
 *
 * KvrLOGIN and KvrLOGIN_Free are a replaceable pair. The default pair shows nothing, since
 * the driver has no window system to draw on under Linux: KvrLOGIN answers
 * KVR_LOGIN_CANNOT_SHOW, which the driver reports as "Dialog failed" (IM008). A host (or a
 * test) may install its own pair with KvrLOGIN_Install.
 *
 * Texts are NUL-terminated, in the driver's own encoding (UTF-8 in the Unicode library). */
#ifndef VARNO_DLGKIT_H
#define VARNO_DLGKIT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Results of KvrLOGIN. Anything other than KVR_LOGIN_OK and KVR_LOGIN_CANNOT_SHOW counts as
 * a cancel by the user. */
#define KVR_LOGIN_OK 1
#define KVR_LOGIN_CANCEL 0
#define KVR_LOGIN_CANNOT_SHOW (-1)

/* Shows the dialog over the window for the named driver, filled from the connect string.
 * width is 'A' or 'W', the library the call comes from. On KVR_LOGIN_OK *connStrOut is a
 * connect string with the user's answers; otherwise it may be null. */
typedef int (*KVR_LOGIN_FN)(void* window, const char* driverName, const char* connStrIn, char** connStrOut,
                            int width);
/* Releases what KvrLOGIN put in *connStrOut; called after every KvrLOGIN, whatever it
 * answered. A null text is ignored. */
typedef void (*KVR_LOGIN_FREE_FN)(char* connStrOut);

int KvrLOGIN(void* window, const char* driverName, const char* connStrIn, char** connStrOut, int width);
void KvrLOGIN_Free(char* connStrOut);

/* Puts a pair in place of the current one; null for either restores the default pair.
 * Not meant to be called while a connect is in progress. */
void KvrLOGIN_Install(KVR_LOGIN_FN login, KVR_LOGIN_FREE_FN release);

#ifdef __cplusplus
}
#endif

#endif
