// SPDX-License-Identifier: LGPL-2.1-or-later
// A shared library without any Qt plugin metadata.
extern "C" __attribute__((visibility("default"))) int rova_test_not_a_plugin()
{
    return 7;
}
