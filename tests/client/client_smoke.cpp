// Links the shared library the way a client does and calls through it.
#include <ORVIX_0500.h>

#include <cstdio>
#include <cstring>

int main() {
    if (fnORVIX_0500() != 42) return 1;
    if (std::strcmp(GetDll_Version(), "2. 4. 7. 5") != 0) return 1;
    ImgClass img;
    img.ImgStruct.Width = 4;
    img.ImgStruct.Height = 2;
    img.ImgStruct.LineSize = 4;
    if (img.AllocData() || !img.ImgStruct.ImgData) return 1;
    Post_Error("");
    Post_Error("client");
    if (std::strcmp(Get_Last_Error(), "client\n") != 0) return 1;
    std::puts("client ok");
    return 0;
}
