#include "platform/gfx/gl/program_cache.h"

#include <cstdlib>
#include <cstring>

#include "platform/gfx/shader_interface.h"

namespace gx {

GLuint CompileShader(GLenum type, const std::string& source, std::string& log) {
  GLuint s = glCreateShader(type);
  const char* text = source.c_str();
  glShaderSource(s, 1, &text, nullptr);
  glCompileShader(s);
  GLint ok = GL_FALSE;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    GLint length = 0;
    glGetShaderiv(s, GL_INFO_LOG_LENGTH, &length);
    log.assign(size_t(length > 0 ? length : 1), '\0');
    glGetShaderInfoLog(s, length, nullptr, log.data());
    glDeleteShader(s);
    return 0;
  }
  return s;
}

static void LookUp(GlProgram& p) {
  GLint count = 0;
  glGetProgramiv(p.id, GL_ACTIVE_UNIFORMS, &count);
  for (GLint i = 0; i < count; ++i) {
    char name[256];
    GLsizei length = 0;
    GLint size = 0;
    GLenum type = 0;
    glGetActiveUniform(p.id, GLuint(i), sizeof name, &length, &size, &type, name);
    std::string n(name, size_t(length));
    if (n.size() > 3 && n.compare(n.size() - 3, 3, "[0]") == 0) n.resize(n.size() - 3);
    p.active[n] = ActiveUniform{glGetUniformLocation(p.id, name), type, size};
  }
  auto loc = [&](const char* name) {
    auto it = p.active.find(name);
    return it == p.active.end() ? -1 : it->second.location;
  };
  auto& l = p.loc;
  l.worldViewNormal = loc("gx_WorldViewNormal"), l.projection = loc("gx_Projection");
  l.world = loc("gx_World"), l.view = loc("gx_View");
  l.pixelAdjust = loc("gx_PixelAdjust"), l.viewport = loc("gx_Viewport");
  l.matDiffuse = loc("gx_MatDiffuse"), l.matAmbient = loc("gx_MatAmbient"), l.matSpecular = loc("gx_MatSpecular");
  l.matEmissive = loc("gx_MatEmissive"), l.matPower = loc("gx_MatPower"), l.globalAmbient = loc("gx_GlobalAmbient");
  l.lightDir = loc("gx_LightDir"), l.lightDiffuse = loc("gx_LightDiffuse");
  l.lightSpecular = loc("gx_LightSpecular"), l.lightAmbient = loc("gx_LightAmbient");
  l.fogParams = loc("gx_FogParams"), l.fogColor = loc("gx_FogColor"), l.tfactor = loc("gx_TFactor");
  l.alphaRef = loc("gx_AlphaRef");
  for (DWORD i = 0; i < kMaxStages; ++i) l.texMatrix[i] = loc(("gx_TexMatrix" + std::to_string(i)).c_str());
  // Samplers read the stage of the same number, once and for all.
  glUseProgram(p.id);
  for (DWORD i = 0; i < kMaxStages; ++i) {
    GLint s = loc(("gx_Sampler" + std::to_string(i)).c_str());
    if (s >= 0) glUniform1i(s, GLint(i));
  }
}

// GL ES: the values of uniforms declared with an initialiser (see ForThisGl in glsl_gen.cpp),
// set once after linking; a value the program sets later replaces it as on desktop GL.
static void SetDefaults(GlProgram& p, const std::string& source) {
  static const char kTag[] = "// vk_default ";
  for (size_t at = source.find(kTag); at != std::string::npos; at = source.find(kTag, at + 1)) {
    size_t eol = source.find('\n', at);
    std::string line = source.substr(at + sizeof kTag - 1, eol == std::string::npos ? std::string::npos : eol - at - sizeof kTag + 1);
    size_t space = line.find(' ');
    auto it = p.active.find(line.substr(0, space));
    if (space == std::string::npos || it == p.active.end()) continue;
    float f[16] = {};
    int n[16] = {}, count = 0;
    const char* c = line.c_str() + space;
    while (*c && count < 16) {
      if (std::strncmp(c, "true", 4) == 0) {
        f[count] = 1, n[count++] = 1, c += 4;
      } else if ((*c >= '0' && *c <= '9') || *c == '-' || *c == '+' || *c == '.') {
        char* end = nullptr;
        f[count] = std::strtof(c, &end);
        n[count] = int(f[count]);
        ++count;
        c = end > c ? end : c + 1;
      } else if (std::strncmp(c, "false", 5) == 0) {
        ++count, c += 5;
      } else {
        ++c;
      }
    }
    const ActiveUniform& a = it->second;
    switch (a.type) {
      case GL_FLOAT: glUniform1fv(a.location, 1, f); break;
      case GL_FLOAT_VEC2: glUniform2fv(a.location, 1, f); break;
      case GL_FLOAT_VEC3: glUniform3fv(a.location, 1, f); break;
      case GL_FLOAT_VEC4: glUniform4fv(a.location, 1, f); break;
      case GL_INT:
      case GL_BOOL: glUniform1iv(a.location, 1, n); break;
      case GL_INT_VEC2: glUniform2iv(a.location, 1, n); break;
      case GL_INT_VEC3: glUniform3iv(a.location, 1, n); break;
      case GL_INT_VEC4: glUniform4iv(a.location, 1, n); break;
      default: break;
    }
  }
}

GLuint ShaderCache::Get(GLenum type, const std::string& source, std::string& log) {
  auto& cache = type == GL_VERTEX_SHADER ? vertex_ : fragment_;
  auto it = cache.find(source);
  if (it != cache.end()) return it->second;
  GLuint s = CompileShader(type, source, log);
  if (!s) return 0;
  ++compiled;
  cache.emplace(source, s);
  return s;
}

void ShaderCache::Clear() {
  for (auto* cache : {&vertex_, &fragment_}) {
    for (auto& entry : *cache) glDeleteShader(entry.second);
    cache->clear();
  }
}

std::unique_ptr<GlProgram> LinkProgram(GLuint vs, GLuint fs, std::string& log, const std::string& sources) {
  auto p = std::make_unique<GlProgram>();
  if (!vs || !fs) return p;
  GLuint id = glCreateProgram();
  glAttachShader(id, vs);
  glAttachShader(id, fs);
  // Custom vertex shaders may leave out layout qualifiers; the names fix the slots.
  for (int slot = 0; slot < kAttrCount; ++slot) glBindAttribLocation(id, GLuint(slot), kAttributes[slot].name);
#if !GX_GLES
  glBindFragDataLocation(id, 0, kFragColorName);  // GLSL ES: the only output is location 0 anyway
#endif
  glLinkProgram(id);
  glDetachShader(id, vs);
  glDetachShader(id, fs);
  GLint ok = GL_FALSE;
  glGetProgramiv(id, GL_LINK_STATUS, &ok);
  if (!ok) {
    GLint length = 0;
    glGetProgramiv(id, GL_INFO_LOG_LENGTH, &length);
    log.assign(size_t(length > 0 ? length : 1), '\0');
    glGetProgramInfoLog(id, length, nullptr, log.data());
    glDeleteProgram(id);
    return p;
  }
  p->id = id;
  p->ok = true;
  LookUp(*p);
  if (kGlEs) SetDefaults(*p, sources);
  return p;
}

}  // namespace gx
