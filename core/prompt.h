// The password prompt a handler calls for an encrypted member.
#pragma once

// Frees the text held in *slot, asks for a password and returns the answer as
// newly allocated narrow text (LocalAlloc) in the active code page, possibly
// empty; the answer is also left in *slot. Never null: an answer that cannot
// be had is empty text.
char* PasswordPrompt(char** slot);

// How the answer is obtained: given a buffer, fill it with the typed text as
// UTF-8 (terminated). The default reads from the terminal with echo off when
// one is attached, otherwise one line of standard input (end of input gives
// empty text). The terminal dialogs install their own.
typedef void (*PasswordReader)(char* utf8, unsigned size);
void SetPasswordReader(PasswordReader reader);

// A password given beforehand (the command line's -p or --password-file),
// as UTF-8: while set, PasswordPrompt answers with it and asks nobody. When
// it is wrong, nobody is asked either. Null: ask again.
void SetGivenPassword(const char* utf8);
