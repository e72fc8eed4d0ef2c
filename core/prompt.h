// The password prompt a handler calls for an encrypted member.
#pragma once

// What the asker shows: UTF-8 text with names as DisplayName shows them.
struct PasswordQuestion {
  const char* prompt;  // "Password for secret.txt in a.zip:"
  bool wrongTry;       // the previous answer did not open the member: say so first
};

// Frees the text held in *slot, asks for the password of `member` in
// `archive` (program text; the archive's name without its folder) and
// returns the answer as newly allocated narrow text (LocalAlloc) in the
// active code page, possibly empty; the answer is also left in *slot. With
// `wrongTry` the asker first says that the last answer was wrong. Never
// null: an answer that cannot be had is empty text.
char* PasswordPrompt(char** slot, const char* member, const char* archive, bool wrongTry);

// How the answer is obtained: given the question and a buffer, fill the
// buffer with the typed text as UTF-8 (terminated). The default reads from
// the terminal with echo off when one is attached (saying "Wrong password."
// on a line of its own before it asks again), otherwise one line of
// standard input without a prompt (end of input gives empty text). The
// terminal dialogs install their own.
typedef void (*PasswordReader)(const PasswordQuestion& question, char* utf8, unsigned size);
void SetPasswordReader(PasswordReader reader);
// Standard input was read as an archive ("-"): the default asker gives
// empty text at once instead of reading a line of it.
void SetStandardInputTaken(bool taken);

// A password given beforehand (the command line's -p or --password-file),
// as UTF-8: while set, PasswordPrompt answers with it and asks nobody. When
// it is wrong, nobody is asked either. Null: ask again.
void SetGivenPassword(const char* utf8);
