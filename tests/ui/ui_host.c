/* A host in plain C that asks for dialogs as its standard input tells it, one request per
 * line, fields separated by tabs, "\n" in a field standing for a line break:
 *
 *     locale      <locale>
 *     error       <caption> <title> <detail> <icon>
 *     memory
 *     message     <caption> <title> <icon> <button 0> <button 1> <focus>
 *     privacy     <product> <qualifier> <branding image> <hero image>
 *     acquire | show | hide | release
 *     quit
 *
 * After each request it prints "<request> <answer>" and flushes, so that a test can drive
 * the companion's windows and read what the person's keys answered. It reads its texts
 * from standard input, not its arguments, so that they arrive as UTF-8 on every system. */
#include "kyro/kyroint.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define MAX_FIELDS 8

static void unescape(char* text)
{
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        if (in[0] == '\\' && in[1] == 'n') {
            *out++ = '\n';
            ++in;
        } else {
            *out++ = *in;
        }
    }
    *out = '\0';
}

static int split(char* line, char** fields)
{
    int count = 0;
    line[strcspn(line, "\r\n")] = '\0';
    for (char* at = line; count < MAX_FIELDS;) {
        fields[count++] = at;
        char* tab = strchr(at, '\t');
        if (tab == NULL)
            break;
        *tab = '\0';
        at = tab + 1;
    }
    for (int i = 0; i < count; ++i)
        unescape(fields[i]);
    for (int i = count; i < MAX_FIELDS; ++i)
        fields[i] = "";
    return count;
}

int main(void)
{
    static char line[1 << 18];
    char* f[MAX_FIELDS];
    if (!kyrointStartUp()) {
        printf("startup 0\n");
        return 1;
    }
    printf("ready 1\n");
    fflush(stdout);
    while (fgets(line, sizeof line, stdin) != NULL) {
        split(line, f);
        int answer = 0;
        if (strcmp(f[0], "quit") == 0)
            break;
        if (strcmp(f[0], "locale") == 0)
            kyrointSetLocale(f[1]);
        else if (strcmp(f[0], "error") == 0)
            answer = kyrointShowErrorDialog(f[1], f[2], f[3], atoi(f[4]));
        else if (strcmp(f[0], "memory") == 0)
            answer = kyrointShowInsufficientMemory();
        else if (strcmp(f[0], "message") == 0)
            answer = kyrointShowMessageBox(f[1], f[2], atoi(f[3]), f[4], f[5], atoi(f[6]));
        else if (strcmp(f[0], "privacy") == 0)
            answer = kyrointShowPrivacyPolicy(f[1], f[2], f[3], f[4]);
        else if (strcmp(f[0], "acquire") == 0)
            kyrointAcquireWaitDialog(1);
        else if (strcmp(f[0], "show") == 0)
            answer = kyrointShowWaitDialog();
        else if (strcmp(f[0], "hide") == 0)
            answer = kyrointHideWaitDialog();
        else if (strcmp(f[0], "release") == 0)
            kyrointReleaseWaitDialog();
        else
            answer = -100;
        printf("%s %d\n", f[0], answer);
        fflush(stdout);
    }
    return 0;
}
