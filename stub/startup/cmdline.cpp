/*
 * cmdline.cpp: the command-line tail and the switches it carries.
 *
 * The tail is what follows the program's own name.  Two things are looked
 * for in it: "-info" anywhere (the package's "-info" text is shown and the
 * program ends), and the first switch after "-" or "/", which may select
 * AUTO, NOAUTO or WAIT.
 */
#include <string.h>

#include "../core.h"

/* Cut the program name off a command line.  A quoted name ends at the
 * closing quote, an unquoted one at the first blank; the delimiter itself
 * is stepped over, so after a quoted name the tail usually starts with a
 * blank.  A command line without a further delimiter gives an empty tail. */
char *CommandTail(char *p)
{
    if (*p == '\0')
        return p;
    char delimiter = *p == '"' ? '"' : ' ';
    p++;
    while (*p != '\0' && *p != delimiter)
        p++;
    if (*p != '\0')
        p++;
    return p;
}

/* True when "-info" stands anywhere in the tail, also inside a word.  The
 * comparison is exact and stops at the first differing character, so it
 * never reads past the end of the tail. */
int InfoSwitchPresent(const char *tail)
{
    for (const char *p = tail; *p != '\0'; p++)
        if (strncmp(p, "-info", 5) == 0)
            return 1;
    return 0;
}

/* Set AutoMode and WaitMode from the first switch of the tail.  Only the
 * first "-" or "/" counts; the word behind it is turned to capitals in
 * place and need only begin with a keyword. */
void ParseSwitches(char *tail)
{
    char *word = strpbrk(tail, "-/");
    if (word == nullptr)
        return;
    word++;
    if (strlen(word) < 4)
        return;
    for (char *p = word; *p != '\0' && *p != ' '; p++)
        *p = (char)(*p & ~0x20);

    const char *wait = CatalogEntry(9);
    const char *noAuto = CatalogEntry(7);
    const char *autoWord = CatalogEntry(13);
    if (strncmp(word, wait, strlen(wait)) == 0)
        WaitMode = 1;
    else if (strncmp(word, noAuto, strlen(noAuto)) == 0)
        AutoMode = 0;
    else if (strncmp(word, autoWord, strlen(autoWord)) == 0)
        AutoMode = 1;
}
