/*
 * An application built against an installed libquilcoreapi: compiles with
 * the installed headers alone, links the core and the platform library, and
 * loads them (with the sibling libraries behind them) from the installed tree.
 */
#include <quil/platform_error.h>
#include <quil/quilcoreapi.h>

#include <stdio.h>

int main(void) {
    static const QUILCHAR expected[] = u"file sharing violation";
    const uint32_t expectedLength = sizeof expected / sizeof expected[0];
    int failures = 0;

    QUILAPI_SetLastError(-3010);
    QUILCHAR message[64] = {0};
    uint32_t required = 0;
    const int32_t code = QUILAPI_GetLastErrorWithMessage(message, 64, &required);
    if (code != -3010 || QUILAPI_GetLastError() != -3010) {
        fprintf(stderr, "consumer: last error %d, expected -3010\n", (int)code);
        ++failures;
    }
    int same = required == expectedLength;
    for (uint32_t i = 0; same && i < expectedLength; ++i) same = message[i] == expected[i];
    if (!same) {
        fprintf(stderr, "consumer: the message of -3010 is not \"file sharing violation\" (length %u)\n",
                (unsigned)required);
        ++failures;
    }

    QUILPlatform_SetLastError(32);
    if (QUILPlatform_GetLastError() != 32) {
        fprintf(stderr, "consumer: the platform library does not keep the thread's error\n");
        ++failures;
    }

    if (failures == 0) printf("consumer: installed library answers as expected\n");
    return failures == 0 ? 0 : 1;
}
