# General-purpose random numbers with SHA-1's G function (XSEED zero): the
# example key of RFC 4186, appendix B; X is its w_0 followed by w_1.
[Xchange - SHA1]

COUNT = 0
b = 160
XKey = bd029bbe7f51960bcf9edb2b61f06f0feb5a38b6
XSeed = 0000000000000000000000000000000000000000
