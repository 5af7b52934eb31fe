// Tests only: one more certificate file whose authorities the native library trusts, so a test
// server's certificate can be verified without touching the machine's trust store.
#pragma once

void ZvTest_SetExtraTrustFile(const char* path);
